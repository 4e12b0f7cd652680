# An AR resource group with a problem in each of its items: a directory that
# is not there, an item without "filename", a unit the compiler does not know,
# an unknown idiom and a reference image without its picture. The two images
# that compile are named in the group's list; the group is stored.
set(group "${WORK}/Src.xcassets/Places.arresourcegroup")
set(pictures "${CASES}/../../../examples/Example.xcassets/Landmarks.arresourcegroup")
file(WRITE "${group}/Contents.json" [=[
{"resources": [{"filename": "Gone.arreferenceimage"}, {"name": "no filename"},
               {"filename": "Odd.arreferenceimage"}, {"filename": "Blank.arreferenceimage"},
               {"filename": "Plain"}]}
]=])
file(WRITE "${group}/Odd.arreferenceimage/Contents.json" [=[
{"images": [{"idiom": "car", "filename": "bridge.png"}],
 "properties": {"width": 120, "unit": "millimeters"}}
]=])
file(COPY "${pictures}/Bridge.arreferenceimage/bridge.png" DESTINATION "${group}/Odd.arreferenceimage")
file(WRITE "${group}/Blank.arreferenceimage/Contents.json" [=[
{"images": [{"filename": "missing.png"}], "properties": {"width": 1}}
]=])
file(WRITE "${group}/Plain/Contents.json" [=[
{"images": [{"filename": "tower.jpg"}], "properties": {"width": 2, "unit": "feet"}}
]=])
file(COPY "${pictures}/Tower.arreferenceimage/tower.jpg" DESTINATION "${group}/Plain")
