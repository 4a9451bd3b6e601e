
-- Appended to the reference tool script for the fault matrix: the fault
-- named in the file "matrix-fault" of the working folder strikes once, in
-- the entry it belongs to, and the file is removed; every later board is
-- flashed as usual.
local PLAN = "matrix-fault"

local function strikes(fault)
    local plan = io.open(PLAN, "r")
    if not plan then return false end
    local planned = plan:read("*l")
    plan:close()
    if planned ~= fault then return false end
    os.remove(PLAN)
    return true
end

local function endless()
    while true do end
end

local init, fel2fes, fes = Tools.Init, Tools.entry_fel2fes, Tools.entry_fes_thread

function Tools.Init(args)
    if strikes("init-raises") then error("matrix: Tools.Init raises", 0) end
    if strikes("init-endless") then endless() end
    return init(args)
end

function Tools.entry_fel2fes(args)
    if strikes("fel-raises") then error("matrix: Tools.entry_fel2fes raises", 0) end
    if strikes("fel-endless") then endless() end
    return fel2fes(args)
end

function Tools.entry_fes_thread(args)
    if strikes("fes-raises") then error("matrix: Tools.entry_fes_thread raises", 0) end
    if strikes("fes-endless") then
        ToolMsgCallBack(0, 16, "matrix: flashing, then stuck", 5)
        endless()
    end
    if strikes("fes-no-report") then return true end
    return fes(args)
end
