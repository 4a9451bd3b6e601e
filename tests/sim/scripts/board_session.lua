-- A tool script's view of the simulated board: command blocks built in
-- script buffers and sent with Fex_command, as the tools of an image do.
-- The test host sets USBWIRE and SCRIPTBASE and calls the functions below.
assert(package.loadlib(USBWIRE, "l_RegAllFun"))()
assert(package.loadlib(SCRIPTBASE, "l_RegAllFun"))()

local LOAD_ADDRESS = 0x40000000

local function command(handle, code, a, b, buffer, length, selector, flags)
    local block = MallocBuffer(16)
    Memset(block, 0, 16)
    SetInt16FrmMem(block, 0, code)
    SetInt32FrmMem(block, 4, a or 0)
    SetInt32FrmMem(block, 8, b or 0)
    if selector then
        SetByteBitsFrmMem(block, 12, 0, 8, selector)
        SetByteBitsFrmMem(block, 13, 0, 8, flags)
    end
    local result = Fex_command(handle, block, buffer, length)
    FreeBuffer(block)
    return result
end

local function verify(handle)
    local record = MallocBuffer(32)
    local result = command(handle, 0x0001, 0, 0, record, 32)
    local stage = GetInt16FrmMem(record, 16)
    local log2 = GetInt8FrmMem(record, 19)
    local private = GetInt32FrmMem(record, 20)
    local magic = BufferToChars(record, 0, 8)
    FreeBuffer(record)
    return result, magic, stage, log2, private
end

-- FEL: verify, private data read and write, download, run.
function fel_session(node)
    local handle = assert(Fex_Open(node), "cannot open " .. node)
    local result, magic, stage, log2, private = verify(handle)
    assert(result == 0 and magic == "QXUSBFEX" and stage == 1, "not a FEL board")
    local size = 2 ^ log2
    local area = MallocBuffer(size)
    assert(command(handle, 0x0103, private, size, area, size) == 0, "private data read")
    assert(GetInt32FrmMem(area, 0) == 0xCCCCCCCC, "board is not fresh")
    SetInt32FrmMem(area, 0, 0)
    SetInt32FrmMem(area, 4, 0x1234A5CD)
    assert(command(handle, 0x0101, private, size, area, size) == 0, "private data write")
    FreeBuffer(area)

    local body = 3000
    local stage2 = MallocBuffer(16 + body)
    Memset(stage2, 0, 16)
    CharsToBuffer(stage2, "VEMOFES2")
    Memset(GetBuffer(stage2, 16), 0x5A, body)
    SetInt32FrmMem(stage2, 100, 0xDEADBEEF)
    SetInt32FrmMem(stage2, 8, body)
    SetInt32FrmMem(stage2, 12, calc_crc32(GetBuffer(stage2, 16), body))
    assert(command(handle, 0x0101, LOAD_ADDRESS, 16 + body, stage2, 16 + body) == 0, "download")
    FreeBuffer(stage2)
    assert(command(handle, 0x0102, LOAD_ADDRESS, 0, nil, 0) == 0, "run")
    Fex_Close(handle)
    return private
end

-- FES: private data kept, flash written with marks and read back; returns
-- the CRC-32 of what was written.
function fes_session(node, offset, length)
    local handle = assert(Fex_Open(node), "cannot open " .. node)
    local result, _, stage, _, private = verify(handle)
    assert(result == 0 and stage == 2, "not a FES board")
    local area = MallocBuffer(256)
    assert(command(handle, 0x0201, private, 256, area, 256, 0x00, 0x20) == 0, "private data")
    assert(GetInt32FrmMem(area, 0) == 0 and GetInt32FrmMem(area, 4) == 0x1234A5CD,
        "private data lost")
    FreeBuffer(area)

    local image = MallocBuffer(length)
    Memset(image, 0xA5, length)
    for at = 0, length - 4, 4096 do
        SetInt32FrmMem(image, at, at)
    end
    local at = 0
    while at < length do
        local chunk = math.min(32768, length - at)
        local flags = 0x10
        if at == 0 then flags = flags + 0x40 end
        if at + chunk == length then flags = flags + 0x80 end
        assert(command(handle, 0x0201, offset + at, chunk, GetBuffer(image, at), chunk, 0x10, flags)
            == 0, "flash write at " .. at)
        at = at + chunk
    end
    local back = MallocBuffer(length)
    at = 0
    while at < length do
        local chunk = math.min(32768, length - at)
        assert(command(handle, 0x0201, offset + at, chunk, GetBuffer(back, at), chunk, 0x10, 0x20)
            == 0, "flash read at " .. at)
        at = at + chunk
    end
    assert(Memcmp(image, back, length) == 0, "flash read back differs")
    local message = MallocBuffer(1024)
    assert(command(handle, 0x0204, 1024, 0, message, 1024) == 0, "get message")
    assert(string.find(BufferToChars(message, 0, 1024), "wrote " .. length .. " bytes"),
        "no message about the write")
    local crc = calc_crc32(image, length)
    FreeBuffer(message)
    FreeBuffer(back)
    FreeBuffer(image)
    Fex_Close(handle)
    return crc
end

-- The transport's code for one verify, to see faults from a script.
function verify_code(node)
    local handle = assert(Fex_Open(node), "cannot open " .. node)
    local result = verify(handle)
    Fex_Close(handle)
    return result
end
