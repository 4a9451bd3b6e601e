-- Every entry raises a Lua error.
Tools = {}
function Tools.Init() error("boom in Init", 0) end
function Tools.Exit() error("boom in Exit", 0) end
function Tools.entry_fel2fes() error("boom in entry_fel2fes", 0) end
function Tools.entry_fes_thread() error("boom in entry_fes_thread", 0) end
