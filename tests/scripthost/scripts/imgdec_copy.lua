-- Image-access stand-in for the tests: the "image" is the tool script
-- itself, copied whole to the local path. Records every call and whether the
-- chunk ran in the directory that holds "marker.txt".
Calls = {}
ChunkSawMarker = io.open("marker.txt") ~= nil

function Img_DownItemToLocal(image, mainType, subType, localPath)
  Calls[#Calls + 1] = table.concat({ image, mainType, subType, localPath }, "|")
  local src = assert(io.open(image, "rb"))
  local data = src:read("*a")
  src:close()
  local dst = assert(io.open(localPath, "wb"))
  dst:write(data)
  dst:close()
end
