-- Every entry answers with a number, which is not a boolean.
Tools = {}
function Tools.Init() return 1 end
function Tools.Exit() return 1 end
function Tools.entry_fel2fes() return 1 end
function Tools.entry_fes_thread() return 1 end
