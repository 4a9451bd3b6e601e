-- Every entry returns no value at all.
Tools = {}
function Tools.Init() end
function Tools.Exit() end
function Tools.entry_fel2fes() end
function Tools.entry_fes_thread() end
