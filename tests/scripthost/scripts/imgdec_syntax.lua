-- Does not compile.
function Img_DownItemToLocal(
