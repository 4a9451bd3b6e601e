
-- Appended to the reference tool script for the runner's tests: the FES half
-- asks before it flashes. Yes flashes; No and Cancel fail the board, each
-- with its own error text.
local flash = Tools.entry_fes_thread
function Tools.entry_fes_thread(args)
    local answer = ToolMessageBox("Flash this board?", "Yes flashes it")
    if answer == 1 then return flash(args) end
    ToolMsgCallBack(0, 32, answer == 0 and "declined" or "cancelled", 0)
    return false
end
