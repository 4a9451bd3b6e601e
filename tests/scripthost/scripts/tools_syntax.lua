-- Does not compile.
Tools = {
  Init = function() return true
