-- Every entry reports failure.
Tools = {}
function Tools.Init() return false end
function Tools.Exit() return false end
function Tools.entry_fel2fes() return false end
function Tools.entry_fes_thread() return false end
