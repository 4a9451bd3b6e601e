-- Reference tool script for Vemora images ("tools.scj" once extracted).
--
-- It brings a board from FEL into FES by downloading and running the
-- second-stage payload item, writes every partition item into the board's
-- flash, reads each one back and checks it, and marks the board's private
-- data as flashed. The contract it follows: docs/tool-scripts.md.
--
-- Items it uses:
--   "FES2BOOT"/"secondstage"  second stage; target = RAM address to load and run
--   "PARTITON"/<name>         a partition; target = flash byte offset;
--                             flag bit 0: stored RC6-encrypted (docs/image-format.md)

Tools = {}

local FEL_CHUNK = 32768 -- bytes per FEL command: what the program's own FEL commands move
-- Bytes per FES data command: fewer, longer commands leave the link less time
-- idle between them (docs/tool-scripts.md, "Command size").
local FES_COMMAND = 4194304 -- 4 MiB
local TWO32 = 4294967296
local FLASH_LIMIT = 16 * TWO32 -- the selector's low nibble holds flash offset bits 32-35

local CMD_VERIFY_DEV = 0x0001
local CMD_FEL_DOWN = 0x0101
local CMD_FEL_RUN = 0x0102
local CMD_FEL_UP = 0x0103
local CMD_FES_TRANS = 0x0201

local STAGE_FEL, STAGE_FES = 1, 2
local DIR_DOWN, DIR_UP = 0x10, 0x20
local MARK_START, MARK_FINISH = 0x40, 0x80
local SEL_RAM, SEL_FLASH = 0x0, 0x1

local MSG_PROGRESS, MSG_ERROR, MSG_END = 16, 32, 64
local OK_FLAG = 0x1234A5CD
local FLASHED_ID = 1 -- any id but 0 and 0xCCCCCCCC: this board has been flashed

local FAMILY_KEY = "VemoraSampleKey!"
local PAYLOAD_MAIN, PAYLOAD_SUB = "FES2BOOT", "secondstage"
local PARTITION_MAIN = "PARTITON"

local imagePath

-- Cleanups run in reverse order when an entry ends, however it ends.
local function new_scope()
    local list = {}
    return {
        add = function(f) list[#list + 1] = f end,
        close = function()
            for i = #list, 1, -1 do pcall(list[i]) end
        end,
    }
end

local function buffer(scope, size)
    local b = MallocBuffer(size)
    scope.add(function() FreeBuffer(b) end)
    return b
end

local function open_device(scope, path)
    local h = Fex_Open(path)
    if not h then error("cannot open the device node " .. tostring(path), 0) end
    scope.add(function() Fex_Close(h) end)
    return h
end

local function open_image(scope)
    local img = Img_Open(imagePath)
    scope.add(function() Img_Close(img) end)
    return img
end

-- The 16-byte FEX command block.
local function command(cmd, code, address, length)
    Memset(cmd, 0, 16)
    SetInt16FrmMem(cmd, 0, code)
    SetInt32FrmMem(cmd, 4, address)
    SetInt32FrmMem(cmd, 8, length)
end

local function run(h, cmd, data, length, what)
    local result = Fex_command(h, cmd, data, length)
    if result ~= 0 then error(what .. " failed (transport code " .. tostring(result) .. ")", 0) end
end

-- Asks the board for its stage; returns the private-data address and size.
local function verify(h, cmd, scope, stage)
    local reply = buffer(scope, 32)
    Memset(reply, 0, 32)
    command(cmd, CMD_VERIFY_DEV, 0, 0)
    run(h, cmd, reply, 32, "verify device")
    local mode = GetInt16FrmMem(reply, 16)
    if mode ~= stage then
        error("the board is in stage " .. mode .. ", expected " .. stage, 0)
    end
    local log2 = GetInt8FrmMem(reply, 19)
    if log2 < 3 or log2 > 16 then
        error("the board reports a private-data area of 2^" .. log2 .. " bytes", 0)
    end
    return GetInt32FrmMem(reply, 20), 2 ^ log2
end

local function report(code, text, value)
    DebugTrace(text)
    ToolMsgCallBack(0, code, text, value)
end

-- Moves `length` bytes between `data` and the board in CMD_FES_TRANS chunks.
-- Flash byte offsets beyond 4 GiB go in the selector's low nibble, so no
-- chunk crosses a 4 GiB line. `starts`/`ends`: this call opens or closes a
-- marked series (the board checks and records each series).
local function fes_trans(h, cmd, space, offset, data, length, dir, starts, ends, on_chunk)
    local done = 0
    while done < length do
        local at = offset + done
        local high = math.floor(at / TWO32)
        local address = at - high * TWO32
        local n = math.min(FES_COMMAND, length - done, TWO32 - address)
        local flags = dir
        if starts and done == 0 then flags = flags + MARK_START end
        if ends and done + n == length then flags = flags + MARK_FINISH end
        local selector = space * 16 + (space == SEL_FLASH and high or 0)
        command(cmd, CMD_FES_TRANS, address, n)
        SetInt16FrmMem(cmd, 12, selector + flags * 256)
        run(h, cmd, GetBuffer(data, done), n, "CMD_FES_TRANS")
        done = done + n
        if on_chunk then on_chunk(n) end
    end
end

-- The RC6 context of an encrypted item: key = RC6(family key, subtype).
local function item_cipher(scope, item)
    local family = buffer(scope, 16)
    local block = buffer(scope, 16)
    local key = buffer(scope, 16)
    CharsToBuffer(family, FAMILY_KEY)
    Memset(block, 0, 16)
    CharsToBuffer(block, item.sub)
    local fctx = Dec_Initial(family, 16)
    Dec_Encode(fctx, block, key)
    Dec_UnInitial(fctx)
    local ctx = Dec_Initial(key, 16)
    scope.add(function() Dec_UnInitial(ctx) end)
    return ctx
end

local function decrypt(ctx, data, length)
    for at = 0, length - 16, 16 do
        local block = GetBuffer(data, at)
        Dec_Decode(ctx, block, block)
    end
end

function Tools.Init(args)
    imagePath = args.imgFilePath
    local dir = tostring(args.workDir):match("^(.*/)") or "./"
    for _, lib in ipairs({ "scriptbase.dll", "usbwire.dll", "blockcrypt.dll" }) do
        local register, why = package.loadlib(dir .. lib, "l_RegAllFun")
        if not register then
            ToolMsgCallBack(0, MSG_ERROR, "cannot load " .. dir .. lib .. ": " .. tostring(why), 0)
            return false
        end
        register()
    end
    if type(Img_Open) ~= "function" then
        ToolMsgCallBack(0, MSG_ERROR, "imgdec_fun.lua does not offer Img_Open", 0)
        return false
    end
    return true
end

function Tools.Exit()
    return true
end

local function fel2fes(scope, args)
    local img = open_image(scope)
    local payload = Img_FindItem(img, PAYLOAD_MAIN, PAYLOAD_SUB)
    if not payload then error("the image has no second stage (" .. PAYLOAD_MAIN .. ")", 0) end
    -- FEL addresses are 32-bit: a payload past 4 GiB would wrap onto low RAM.
    if payload.size == 0 or payload.target + payload.size > TWO32 then
        error("the second stage (" .. payload.size .. " bytes at " .. payload.target
            .. ") does not fit the board's 32-bit address space", 0)
    end
    local h = open_device(scope, args.felDevName)
    local cmd = buffer(scope, 16)
    verify(h, cmd, scope, STAGE_FEL)
    local data = buffer(scope, FEL_CHUNK)
    local back = buffer(scope, FEL_CHUNK)
    local pos = 0
    while pos < payload.size do
        local n = math.min(FEL_CHUNK, payload.size - pos)
        Img_ReadItem(img, payload, pos, data, n)
        command(cmd, CMD_FEL_DOWN, payload.target + pos, n)
        run(h, cmd, data, n, "CMD_FEL_DOWN")
        command(cmd, CMD_FEL_UP, payload.target + pos, n)
        run(h, cmd, back, n, "CMD_FEL_UP")
        if Memcmp(data, back, n) ~= 0 then
            error("second stage read back differs at byte " .. pos, 0)
        end
        pos = pos + n
    end
    command(cmd, CMD_FEL_RUN, payload.target, 0)
    run(h, cmd, nil, 0, "CMD_FEL_RUN")
    DebugTrace("second stage started at " .. payload.target)
end

-- Runs an entry's work with its clean-ups; any failure reaches the window as
-- code 32 with the reason, and the entry answers false.
local function guarded(stage, work, args)
    local scope = new_scope()
    local ok, why = pcall(work, scope, args)
    scope.close()
    if not ok then
        report(MSG_ERROR, stage .. ": " .. tostring(why), 0)
        return false
    end
    return true
end

function Tools.entry_fel2fes(args)
    return guarded("FEL", fel2fes, args)
end

-- Writes one partition, then reads it back; both passes' CRC-32 must agree,
-- and the stored bytes must match the image's table. A plain item is written
-- as stored, so its written CRC-32 is the stored one.
local function flash_partition(h, cmd, img, item, io, progress)
    local ctx = item.flags % 2 == 1 and item_cipher(io.scope, item) or nil
    local stored, written, pos = 0, 0, 0
    while pos < item.size do
        local n = math.min(FES_COMMAND, item.size - pos)
        Img_ReadItem(img, item, pos, io.data, n)
        stored = Img_Crc32Combine(stored, calc_crc32(io.data, n), n)
        if ctx then
            decrypt(ctx, io.data, n)
            written = Img_Crc32Combine(written, calc_crc32(io.data, n), n)
        end
        fes_trans(h, cmd, SEL_FLASH, item.target + pos, io.data, n, DIR_DOWN,
            pos == 0, pos + n == item.size, progress)
        pos = pos + n
    end
    if not ctx then written = stored end
    if stored ~= item.crc then
        error("partition " .. item.sub .. " is damaged in the image (CRC-32 mismatch)", 0)
    end
    local readback = 0
    pos = 0
    while pos < item.size do
        local n = math.min(FES_COMMAND, item.size - pos)
        fes_trans(h, cmd, SEL_FLASH, item.target + pos, io.data, n, DIR_UP,
            pos == 0, pos + n == item.size, progress)
        readback = Img_Crc32Combine(readback, calc_crc32(io.data, n), n)
        pos = pos + n
    end
    if readback ~= written then
        error(string.format("partition %s reads back wrong (CRC-32 %08x, written %08x)",
            item.sub, readback, written), 0)
    end
end

local function mark_flashed(h, cmd, scope, address, size)
    local pd = buffer(scope, size)
    fes_trans(h, cmd, SEL_RAM, address, pd, size, DIR_UP, true, true)
    SetInt32FrmMem(pd, 0, FLASHED_ID)
    SetInt32FrmMem(pd, 4, OK_FLAG)
    fes_trans(h, cmd, SEL_RAM, address, pd, size, DIR_DOWN, true, true)
    Memset(pd, 0, 8)
    fes_trans(h, cmd, SEL_RAM, address, pd, size, DIR_UP, true, true)
    if GetInt32FrmMem(pd, 4) ~= OK_FLAG then
        error("the private data did not take the flashed mark", 0)
    end
end

-- A later partition written over an earlier, already verified one would leave
-- the flash wrong while the run reports success: refuse such a layout.
local function check_layout(parts)
    local sorted = {}
    for _, item in ipairs(parts) do
        if item.target + item.size > FLASH_LIMIT then
            error("partition " .. item.sub .. " ends beyond the 64 GiB a FES transfer reaches", 0)
        end
        if item.size > 0 then sorted[#sorted + 1] = item end
    end
    table.sort(sorted, function(a, b) return a.target < b.target end)
    for i = 2, #sorted do
        local before = sorted[i - 1]
        if before.target + before.size > sorted[i].target then
            error("partitions " .. before.sub .. " and " .. sorted[i].sub .. " overlap in flash", 0)
        end
    end
end

local function fes(scope, args)
    local img = open_image(scope)
    local parts, total = {}, 0
    for _, item in ipairs(img.items) do
        if item.main == PARTITION_MAIN then
            if item.flags % 2 == 1 and item.size % 16 ~= 0 then
                error("encrypted partition " .. item.sub .. " is not whole blocks", 0)
            end
            parts[#parts + 1] = item
            total = total + item.size
        end
    end
    if #parts == 0 then error("the image holds no partitions", 0) end
    check_layout(parts)
    local h = open_device(scope, args.fesDevName)
    local cmd = buffer(scope, 16)
    local pdAddress, pdSize = verify(h, cmd, scope, STAGE_FES)
    local io = { scope = scope, data = buffer(scope, FES_COMMAND) }
    local moved, shown = 0, -1
    for i, item in ipairs(parts) do
        local text = string.format("Writing %s (%d of %d)", item.sub, i, #parts)
        local function progress(n)
            moved = moved + n
            local pct = total > 0 and math.floor(moved * 99 / (2 * total)) or 99
            if pct ~= shown then
                shown = pct
                ToolMsgCallBack(0, MSG_PROGRESS, text, pct)
            end
        end
        report(MSG_PROGRESS, text, shown < 0 and 0 or shown)
        flash_partition(h, cmd, img, item, io, progress)
    end
    mark_flashed(h, cmd, scope, pdAddress, pdSize)
    report(MSG_END, string.format("Flashed %d partitions, %d bytes, verified", #parts, total), 100)
end

function Tools.entry_fes_thread(args)
    return guarded("FES", fes, args)
end
