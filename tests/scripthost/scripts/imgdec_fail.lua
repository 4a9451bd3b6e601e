-- Finds no item in any image.
function Img_DownItemToLocal(image, mainType, subType, localPath)
  error("no item " .. mainType .. " in " .. image, 0)
end
