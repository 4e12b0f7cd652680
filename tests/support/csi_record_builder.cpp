#include "tests/support/csi_record_builder.h"

namespace skarvel::test {

namespace {

Bytes FourBytes(std::string_view four) {
  Bytes b(4, 0);
  for (size_t i = 0; i < 4 && i < four.size(); ++i) b[i] = static_cast<uint8_t>(four[i]);
  return b;
}

}  // namespace

CSIRecordBuilder& CSIRecordBuilder::Magic(std::string_view four) {
  magic_ = std::string(four);
  return *this;
}
CSIRecordBuilder& CSIRecordBuilder::Version(uint32_t v) {
  version_ = v;
  return *this;
}
CSIRecordBuilder& CSIRecordBuilder::Flags(uint32_t v) {
  flags_ = v;
  return *this;
}
CSIRecordBuilder& CSIRecordBuilder::Size(uint32_t width, uint32_t height) {
  width_ = width;
  height_ = height;
  return *this;
}
CSIRecordBuilder& CSIRecordBuilder::ScaleFactor(uint32_t percent) {
  scale_ = percent;
  return *this;
}
CSIRecordBuilder& CSIRecordBuilder::PixelFormat(std::string_view four) {
  pixel_format_ = FourBytes(four);
  return *this;
}
CSIRecordBuilder& CSIRecordBuilder::Colorspace(uint32_t v) {
  colorspace_ = v;
  return *this;
}
CSIRecordBuilder& CSIRecordBuilder::ModificationDate(uint32_t v) {
  date_ = v;
  return *this;
}
CSIRecordBuilder& CSIRecordBuilder::Layout(uint32_t v) {
  layout_ = v;
  return *this;
}
CSIRecordBuilder& CSIRecordBuilder::Name(std::string name) {
  name_ = std::move(name);
  return *this;
}
CSIRecordBuilder& CSIRecordBuilder::BitmapCount(uint32_t v) {
  bitmap_count_ = v;
  return *this;
}
CSIRecordBuilder& CSIRecordBuilder::Reserved(uint32_t v) {
  reserved_ = v;
  return *this;
}
CSIRecordBuilder& CSIRecordBuilder::AllSubblocksSize(uint32_t v) {
  all_subblocks_size_ = v;
  return *this;
}
CSIRecordBuilder& CSIRecordBuilder::PayloadSize(uint32_t v) {
  payload_size_ = v;
  return *this;
}

CSIRecordBuilder& CSIRecordBuilder::Subblock(uint32_t id, const Bytes& content,
                                             std::optional<uint32_t> length) {
  Bytes b;
  AppendU32LE(b, id);
  AppendU32LE(b, length ? *length : static_cast<uint32_t>(content.size()));
  AppendBytes(b, content);
  subblocks_.push_back(std::move(b));
  return *this;
}

CSIRecordBuilder& CSIRecordBuilder::Slices(const std::vector<CSISlice>& slices) {
  Bytes c;
  AppendU32LE(c, static_cast<uint32_t>(slices.size()));
  for (const CSISlice& s : slices) {
    AppendU32LE(c, s.x);
    AppendU32LE(c, s.y);
    AppendU32LE(c, s.width);
    AppendU32LE(c, s.height);
  }
  return Subblock(1001, c);
}

CSIRecordBuilder& CSIRecordBuilder::Metrics(const std::vector<CSIMetric>& metrics) {
  Bytes c;
  AppendU32LE(c, static_cast<uint32_t>(metrics.size()));
  for (const CSIMetric& m : metrics) {
    AppendU32LE(c, m.top_right_width);
    AppendU32LE(c, m.top_right_height);
    AppendU32LE(c, m.bottom_left_width);
    AppendU32LE(c, m.bottom_left_height);
    AppendU32LE(c, m.width);
    AppendU32LE(c, m.height);
  }
  return Subblock(1003, c);
}

CSIRecordBuilder& CSIRecordBuilder::Composition(uint32_t blend_mode, float opacity) {
  Bytes c;
  AppendU32LE(c, blend_mode);
  AppendF32LE(c, opacity);
  return Subblock(1004, c);
}

CSIRecordBuilder& CSIRecordBuilder::Orientation(uint32_t exif) {
  Bytes c;
  AppendU32LE(c, exif);
  return Subblock(1006, c);
}

CSIRecordBuilder& CSIRecordBuilder::BytesPerLine(uint32_t bytes) {
  Bytes c;
  AppendU32LE(c, bytes);
  return Subblock(1007, c);
}

CSIRecordBuilder& CSIRecordBuilder::Reference(
    int32_t x, int32_t y, uint32_t width, uint32_t height, uint16_t layout,
    const std::vector<std::pair<uint16_t, uint16_t>>& pairs, std::optional<uint32_t> key_length) {
  Bytes c;
  AppendText(c, "KLNI");
  AppendU32LE(c, 0);
  AppendU32LE(c, static_cast<uint32_t>(x));
  AppendU32LE(c, static_cast<uint32_t>(y));
  AppendU32LE(c, width);
  AppendU32LE(c, height);
  AppendU16LE(c, layout);
  AppendU32LE(c, key_length ? *key_length : static_cast<uint32_t>(4 * (pairs.size() + 1)));
  for (const auto& [attribute, value] : pairs) {
    AppendU16LE(c, attribute);
    AppendU16LE(c, value);
  }
  AppendZeros(c, 4);
  return Subblock(1010, c);
}

CSIRecordBuilder& CSIRecordBuilder::NameList(const std::vector<std::string>& names) {
  Bytes c;
  AppendU32LE(c, static_cast<uint32_t>(names.size()));
  AppendU32LE(c, 0);
  for (const std::string& n : names) {
    AppendU32LE(c, static_cast<uint32_t>(n.size()));
    AppendText(c, n);
  }
  return Subblock(1013, c);
}

CSIRecordBuilder& CSIRecordBuilder::Properties(uint32_t unit, float width, float height) {
  Bytes c;
  AppendU32LE(c, unit);
  AppendF32LE(c, width);
  AppendF32LE(c, height);
  return Subblock(1015, c);
}

CSIRecordBuilder& CSIRecordBuilder::Element(uint32_t method, const Bytes& data,
                                            uint32_t element_flags) {
  payload_.clear();
  AppendText(payload_, "MLEC");
  AppendU32LE(payload_, element_flags);
  AppendU32LE(payload_, method);
  AppendU32LE(payload_, static_cast<uint32_t>(data.size()));
  AppendBytes(payload_, data);
  return *this;
}

CSIRecordBuilder& CSIRecordBuilder::ChunkedElement(uint32_t method,
                                                   const std::vector<CSIChunk>& chunks,
                                                   uint32_t element_flags) {
  payload_.clear();
  AppendText(payload_, "MLEC");
  AppendU32LE(payload_, element_flags);
  AppendU32LE(payload_, method);
  AppendU32LE(payload_, static_cast<uint32_t>(chunks.size()));
  for (const CSIChunk& c : chunks) {
    AppendText(payload_, "KCBC");
    AppendU32LE(payload_, 0);
    AppendU32LE(payload_, 0);
    AppendU32LE(payload_, c.rows);
    AppendU32LE(payload_, static_cast<uint32_t>(c.data.size()));
    AppendBytes(payload_, c.data);
  }
  return *this;
}

CSIRecordBuilder& CSIRecordBuilder::RawData(const Bytes& data, uint32_t reserved) {
  payload_.clear();
  AppendText(payload_, "DWAR");
  AppendU32LE(payload_, reserved);
  AppendU32LE(payload_, static_cast<uint32_t>(data.size()));
  AppendBytes(payload_, data);
  return *this;
}

CSIRecordBuilder& CSIRecordBuilder::ScalingInfo(const std::vector<CSIScaleEntry>& entries,
                                                uint32_t version) {
  payload_.clear();
  AppendText(payload_, "SISM");
  AppendU32LE(payload_, version);
  AppendU32LE(payload_, static_cast<uint32_t>(entries.size()));
  for (const CSIScaleEntry& e : entries) {
    AppendU32LE(payload_, e.width);
    AppendU32LE(payload_, e.height);
    AppendU32LE(payload_, e.index);
  }
  return *this;
}

CSIRecordBuilder& CSIRecordBuilder::Payload(const Bytes& bytes) {
  payload_ = bytes;
  return *this;
}

CSIRecordBuilder& CSIRecordBuilder::Trailing(const Bytes& bytes) {
  trailing_ = bytes;
  return *this;
}

Bytes CSIRecordBuilder::Build(CSIRecordLayout* layout) const {
  CSIRecordLayout l;
  size_t subblocks_size = 0;
  for (const Bytes& s : subblocks_) subblocks_size += s.size();

  Bytes b;
  AppendBytes(b, FourBytes(magic_));
  AppendU32LE(b, version_);
  AppendU32LE(b, flags_);
  AppendU32LE(b, width_);
  AppendU32LE(b, height_);
  AppendU32LE(b, scale_);
  AppendBytes(b, pixel_format_);
  AppendU32LE(b, colorspace_);
  AppendU32LE(b, date_);
  AppendU32LE(b, layout_);
  AppendField(b, name_.substr(0, 127), 128);
  AppendU32LE(b, all_subblocks_size_ ? *all_subblocks_size_ : static_cast<uint32_t>(subblocks_size));
  AppendU32LE(b, bitmap_count_);
  AppendU32LE(b, reserved_);
  AppendU32LE(b, payload_size_ ? *payload_size_ : static_cast<uint32_t>(payload_.size()));
  for (const Bytes& s : subblocks_) {
    l.subblock_at.push_back(b.size());
    AppendBytes(b, s);
  }
  l.payload_at = b.size();
  l.payload_size = payload_.size();
  AppendBytes(b, payload_);
  AppendBytes(b, trailing_);
  l.size = b.size();
  if (layout != nullptr) *layout = std::move(l);
  return b;
}

}  // namespace skarvel::test
