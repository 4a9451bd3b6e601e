-- Runs fine but defines no Img_DownItemToLocal.
ImageAccess = "none"
