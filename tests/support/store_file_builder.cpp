#include "tests/support/store_file_builder.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace skarvel::test {

namespace {

void PadTo(Bytes& b, size_t step) {
  while (b.size() % step != 0) b.push_back(0);
}

void PutU32BEAt(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

}  // namespace

size_t StoreFileLayout::DataAt(uint32_t index) const {
  auto it = data_at.find(index);
  if (it == data_at.end()) {
    ADD_FAILURE() << "block " << index << " has no data in the built store";
    return 0;
  }
  return it->second;
}

Bytes BuildStoreFile(const StoreFileSpec& recipe, StoreFileLayout* layout) {
  std::vector<StoreFileBlock> blocks = recipe.blocks;
  std::sort(blocks.begin(), blocks.end(),
            [](const StoreFileBlock& a, const StoreFileBlock& b) { return a.index < b.index; });
  uint32_t count = recipe.count;
  if (count == 0 && !blocks.empty()) count = blocks.back().index + 1;
  uint32_t last_used = 0;
  for (const StoreFileBlock& b : blocks) {
    if (!b.data.empty()) last_used = std::max(last_used, b.index);
  }

  StoreFileLayout out;
  out.count = count;
  Bytes file;
  AppendText(file, "BOMStore");
  AppendU32BE(file, recipe.version);
  AppendU32BE(file, last_used);
  AppendZeros(file, 16);  // offsets and lengths, filled below
  AppendZeros(file, 512 - file.size());

  for (const StoreFileBlock& b : blocks) {
    if (b.data.empty()) continue;
    out.data_at[b.index] = file.size();
    AppendBytes(file, b.data);
    PadTo(file, 16);
  }

  out.labels_at = file.size();
  uint32_t label_count = 0;
  for (const StoreFileBlock& b : blocks) label_count += b.label.empty() ? 0 : 1;
  label_count += static_cast<uint32_t>(recipe.extra_labels.size());
  AppendU32BE(file, label_count);
  auto append_label = [&](uint32_t index, const std::string& name) {
    out.label_entry_at.emplace(index, file.size());
    AppendU32BE(file, index);
    AppendU8(file, static_cast<uint8_t>(name.size()));
    AppendText(file, name);
  };
  for (const StoreFileBlock& b : blocks) {
    if (!b.label.empty()) append_label(b.index, b.label);
  }
  for (const auto& [index, name] : recipe.extra_labels) append_label(index, name);
  out.labels_length = file.size() - out.labels_at;
  PadTo(file, 16);

  out.table_at = file.size();
  AppendU32BE(file, count);
  std::map<uint32_t, const StoreFileBlock*> by_index;
  for (const StoreFileBlock& b : blocks) by_index[b.index] = &b;
  for (uint32_t i = 0; i < count; ++i) {
    auto it = by_index.find(i);
    if (it != by_index.end() && !it->second->data.empty()) {
      AppendU32BE(file, static_cast<uint32_t>(out.data_at[i]));
      AppendU32BE(file, static_cast<uint32_t>(it->second->data.size()));
    } else if (i > 0 && i < last_used) {
      AppendU32BE(file, 0xFFFFFFFF);
      AppendU32BE(file, 0xFFFFFFFF);
    } else {
      AppendU32BE(file, 0);
      AppendU32BE(file, 0);
    }
  }
  while ((file.size() - out.table_at) % 4096 != 1384) file.push_back(0);
  out.table_length = file.size() - out.table_at;

  PutU32BEAt(file, kStoreTableOffsetAt, static_cast<uint32_t>(out.table_at));
  PutU32BEAt(file, kStoreTableLengthAt, static_cast<uint32_t>(out.table_length));
  PutU32BEAt(file, kStoreLabelsOffsetAt, static_cast<uint32_t>(out.labels_at));
  PutU32BEAt(file, kStoreLabelsLengthAt, static_cast<uint32_t>(out.labels_length));
  if (layout != nullptr) *layout = std::move(out);
  return file;
}

}  // namespace skarvel::test
