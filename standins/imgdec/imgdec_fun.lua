-- imgdec_fun.lua: reads Vemora firmware images (docs/image-format.md).
--
-- The program runs this chunk once per script state, with the working
-- directory set to its own directory, and calls Img_DownItemToLocal to copy
-- the tool script out of the image. The tool script runs in the same state
-- and reads partitions through the other Img_ functions below.
--
-- Files go through scriptbase.dll's descriptor functions (64-bit positions);
-- data moves in fixed 1 MiB chunks, so memory stays bounded whatever the
-- size of the image. Every failure raises a Lua error starting with
-- "imgdec_fun: ".

local CHUNK = 1024 * 1024
local TWO32 = 4294967296
local HEADER_SIZE = 128
local ENTRY_SIZE = 128
local MAX_ITEMS = 4096
local MIN_ALIGNMENT, MAX_ALIGNMENT = 16, 1048576
local MAGIC = "VMRIMAGE"

local function fail(text)
    error("imgdec_fun: " .. text, 0)
end

-- The script base library lies beside this script (and the program). It is
-- loaded only when its functions are not in the state yet, so a host or a
-- script that registered it already keeps its own copy of the globals.
local NEEDED = {
    "MallocBuffer", "FreeBuffer", "Memcpy", "GetInt32FrmMem", "SetInt32FrmMem",
    "BufferToChars", "GetMemValue", "calc_crc32", "LFopen", "LFseek", "LFread", "LFwrite",
    "LFclose", "DeleteFile",
}

local function script_dir()
    local source = debug.getinfo(1, "S").source
    local path = source:sub(1, 1) == "@" and source:sub(2) or ""
    return path:match("^(.*/)") or "./"
end

local function ensure_scriptbase()
    for _, name in ipairs(NEEDED) do
        if type(_G[name]) ~= "function" then
            local path = script_dir() .. "scriptbase.dll"
            local register, why = package.loadlib(path, "l_RegAllFun")
            if not register then
                fail("cannot load " .. path .. ": " .. tostring(why))
            end
            register()
            return
        end
    end
end

ensure_scriptbase()

-- CRC-32 of concatenated pieces from the pieces' CRCs (zlib's crc32_combine):
-- calc_crc32 covers one buffer, an item spans many chunks. Lua 5.1 has no
-- bit operations, so XOR works on nibbles through a table.
local XOR4 = {}
for a = 0, 15 do
    for b = 0, 15 do
        local r, p, x, y = 0, 1, a, b
        for _ = 1, 4 do
            if x % 2 ~= y % 2 then r = r + p end
            x, y, p = (x - x % 2) / 2, (y - y % 2) / 2, p * 2
        end
        XOR4[a * 16 + b] = r
    end
end

local function bxor(a, b)
    local r, p = 0, 1
    while a > 0 or b > 0 do
        local x, y = a % 16, b % 16
        r = r + XOR4[x * 16 + y] * p
        a, b, p = (a - x) / 16, (b - y) / 16, p * 16
    end
    return r
end

-- A 32x32 matrix over GF(2) as 32 column words.
local function gf2_times(mat, vec)
    local sum, i = 0, 1
    while vec > 0 do
        if vec % 2 == 1 then sum = bxor(sum, mat[i]) end
        vec = (vec - vec % 2) / 2
        i = i + 1
    end
    return sum
end

local function gf2_square(mat)
    local sq = {}
    for i = 1, 32 do sq[i] = gf2_times(mat, mat[i]) end
    return sq
end

-- ZEROS[k]: the operator that appends 2^(k-1) zero bytes to a CRC register.
local ZEROS = {}
do
    local one_bit = { 0xEDB88320 }
    local row = 1
    for i = 2, 32 do
        one_bit[i] = row
        row = row * 2
    end
    ZEROS[1] = gf2_square(gf2_square(gf2_square(one_bit)))
end

-- CRC-32 of A..B from crc1 = CRC-32(A), crc2 = CRC-32(B), len2 = #B.
function Img_Crc32Combine(crc1, crc2, len2)
    local k = 1
    while len2 > 0 do
        if not ZEROS[k] then ZEROS[k] = gf2_square(ZEROS[k - 1]) end
        if len2 % 2 == 1 then crc1 = gf2_times(ZEROS[k], crc1) end
        len2 = (len2 - len2 % 2) / 2
        k = k + 1
    end
    return bxor(crc1, crc2)
end

local function seek(fd, pos)
    local high = math.floor(pos / TWO32)
    LFseek(fd, pos - high * TWO32, high, 0)
end

-- True when the file holds a byte at `pos`; LFread reports a short read as a
-- full one, so lengths are checked by their last byte before reading.
local function has_byte(fd, pos, probe)
    seek(fd, pos)
    return LFread(fd, probe, 1) ~= nil
end

local function is_alignment(a)
    local p = MIN_ALIGNMENT
    while p <= MAX_ALIGNMENT do
        if a == p then return true end
        p = p * 2
    end
    return false
end

local function get64(buf, offset, what)
    local low = GetInt32FrmMem(buf, offset)
    local high = GetInt32FrmMem(buf, offset + 4)
    if high >= 2097152 then
        fail(what .. " is beyond 2^53 bytes")
    end
    return high * TWO32 + low
end

-- A 64-bit value that is not a position in the file: exact below 2^53, the
-- nearest number above (still beyond any limit a script compares it with).
local function get64_near(buf, offset)
    return GetInt32FrmMem(buf, offset + 4) * TWO32 + GetInt32FrmMem(buf, offset)
end

-- True when the `width` bytes at `offset` are the text and then 0 bytes only,
-- so that the text, which ends at the first 0 byte, is the whole type.
local function padded(buf, offset, text, width)
    local rest = width - #text
    return GetMemValue(buf, offset + #text, rest) == string.rep("00", rest)
end

-- Reads and checks header and table; returns the image record. Frees what
-- it allocated on every path.
local function read_image(img, buf)
    local fd, path = img.fd, img.path
    if not has_byte(fd, HEADER_SIZE - 1, buf) then
        fail(path .. ": not a Vemora image (shorter than its header)")
    end
    seek(fd, 0)
    LFread(fd, buf, HEADER_SIZE)
    if BufferToChars(buf, 0, 8) ~= MAGIC then
        fail(path .. ": not a Vemora image (no \"" .. MAGIC .. "\" magic)")
    end
    local version = GetInt32FrmMem(buf, 8)
    if version ~= 1 then
        fail(path .. ": image format version " .. version .. " is not supported")
    end
    if GetInt32FrmMem(buf, 12) ~= HEADER_SIZE or GetInt32FrmMem(buf, 20) ~= ENTRY_SIZE then
        fail(path .. ": foreign header or entry size")
    end
    local header_crc = GetInt32FrmMem(buf, 48)
    SetInt32FrmMem(buf, 48, 0)
    if calc_crc32(buf, HEADER_SIZE) ~= header_crc then
        fail(path .. ": damaged header (header CRC-32 mismatch)")
    end
    local count = GetInt32FrmMem(buf, 16)
    local table_offset = get64(buf, 24, "table offset")
    img.size = get64(buf, 32, "image size")
    img.alignment = GetInt32FrmMem(buf, 40)
    local table_crc = GetInt32FrmMem(buf, 44)
    img.version = BufferToChars(buf, 64, 32)
    if not is_alignment(img.alignment) then
        fail(path .. ": bad item alignment " .. img.alignment)
    end
    if count > MAX_ITEMS then
        fail(path .. ": item count " .. count .. " is above " .. MAX_ITEMS)
    end
    local table_end = table_offset + count * ENTRY_SIZE
    if table_offset < HEADER_SIZE or table_end > img.size then
        fail(path .. ": item table lies outside the image")
    end
    if img.size > 0 and not has_byte(fd, img.size - 1, buf) then
        fail(path .. ": truncated image (shorter than the " .. img.size .. " bytes it declares)")
    end
    -- An empty table has its CRC-32 too (0): checked like any other.
    local tab = MallocBuffer(count * ENTRY_SIZE)
    local ok, why = pcall(function()
        local seen = {}
        seek(fd, table_offset)
        LFread(fd, tab, count * ENTRY_SIZE)
        if calc_crc32(tab, count * ENTRY_SIZE) ~= table_crc then
            fail(path .. ": damaged item table (table CRC-32 mismatch)")
        end
        for i = 0, count - 1 do
            local at = i * ENTRY_SIZE
            local item = {
                index = i,
                main = BufferToChars(tab, at, 8),
                sub = BufferToChars(tab, at + 8, 16),
                offset = get64(tab, at + 24, "item offset"),
                size = get64(tab, at + 32, "item size"),
                target = get64_near(tab, at + 40),
                crc = GetInt32FrmMem(tab, at + 48),
                flags = GetInt32FrmMem(tab, at + 52),
                name = BufferToChars(tab, at + 56, 56),
            }
            if not padded(tab, at, item.main, 8) or not padded(tab, at + 8, item.sub, 16) then
                fail(path .. ": item " .. item.main .. "/" .. item.sub
                    .. " has a damaged type (bytes after its 0 padding)")
            end
            if item.offset < table_end or item.offset + item.size > img.size then
                fail(path .. ": item " .. item.main .. "/" .. item.sub .. " lies outside the image")
            end
            -- The texts end at their first 0 byte, so "\0" cannot occur in them.
            local key = item.main .. "\0" .. item.sub
            if seen[key] then
                fail(path .. ": item " .. item.main .. "/" .. item.sub .. " appears twice")
            end
            seen[key] = true
            img.items[#img.items + 1] = item
        end
    end)
    FreeBuffer(tab)
    if not ok then error(why, 0) end
end

-- Opens an image and checks its header and item table. The result holds
-- `path`, `size`, `version` (firmware version text), `alignment` and
-- `items`, each {main, sub, offset, size, target, crc, flags, name, index}.
-- Close it with Img_Close.
function Img_Open(path)
    if type(path) ~= "string" then fail("image path must be a string") end
    local fd = LFopen(path, 0)
    if fd < 0 then fail("cannot open image " .. path .. " (missing or unreadable)") end
    local img = { path = path, fd = fd, items = {} }
    local buf = MallocBuffer(HEADER_SIZE)
    local ok, why = pcall(read_image, img, buf)
    FreeBuffer(buf)
    if not ok then
        LFclose(fd)
        error(why, 0)
    end
    return img
end

function Img_Close(img)
    if img.fd then
        LFclose(img.fd)
        img.fd = nil
    end
end

-- The item with these types, or nil. Types are compared without their
-- padding, so "boot" finds the subtype stored as "boot" and 12 zero bytes.
function Img_FindItem(img, main, sub)
    for _, item in ipairs(img.items) do
        if item.main == main and item.sub == sub then return item end
    end
    return nil
end

-- Reads `count` bytes of the item from its byte `pos` into the buffer.
function Img_ReadItem(img, item, pos, buf, count)
    if pos < 0 or count < 0 or pos + count > item.size then
        fail("read of " .. count .. " bytes at " .. pos .. " lies outside item "
            .. item.main .. "/" .. item.sub)
    end
    if count == 0 then return end
    seek(img.fd, item.offset + pos)
    if LFread(img.fd, buf, count) == nil then
        fail(img.path .. ": cannot read item " .. item.main .. "/" .. item.sub)
    end
end

local function copy_item(img, item, out, buf)
    local crc, pos = 0, 0
    while pos < item.size do
        local n = math.min(CHUNK, item.size - pos)
        Img_ReadItem(img, item, pos, buf, n)
        crc = Img_Crc32Combine(crc, calc_crc32(buf, n), n)
        if LFwrite(out.fd, buf, n) == nil then
            fail("cannot write " .. out.path)
        end
        pos = pos + n
    end
    -- A full disk can cut the last write short without an error.
    if item.size > 0 and not has_byte(out.fd, item.size - 1, buf) then
        fail("cannot write " .. out.path .. " (short write)")
    end
    if crc ~= item.crc then
        fail(string.format("%s: damaged item %s/%s (CRC-32 %08x, the table says %08x)",
            img.path, item.main, item.sub, crc, item.crc))
    end
end

-- Writes the item into a new file beside `localPath` and renames it into
-- place once complete and checked, so a failure leaves no partial file.
local function extract(img, item, localPath)
    local out = { path = localPath .. ".part", fd = -1 }
    local buf = MallocBuffer(CHUNK)
    local ok, why = pcall(function()
        DeleteFile(out.path) -- LFopen does not truncate a leftover file
        out.fd = LFopen(out.path, 2)
        if out.fd < 0 then fail("cannot create " .. out.path) end
        copy_item(img, item, out, buf)
    end)
    FreeBuffer(buf)
    if out.fd >= 0 then LFclose(out.fd) end
    if ok then
        local renamed, text = os.rename(out.path, localPath)
        if not renamed then
            ok, why = false, "imgdec_fun: cannot rename to " .. localPath .. ": " .. tostring(text)
        end
    end
    if not ok then
        DeleteFile(out.path)
        error(why, 0)
    end
end

-- The program's entry: copies the item (mainType, subType) of the image into
-- the file localPath. Raises an error for a missing or foreign image, a
-- truncated one, a missing item or a checksum mismatch.
function Img_DownItemToLocal(imagePath, mainType, subType, localPath)
    if type(imagePath) ~= "string" or type(mainType) ~= "string"
        or type(subType) ~= "string" or type(localPath) ~= "string" then
        fail("Img_DownItemToLocal needs four strings")
    end
    if #mainType < 1 or #mainType > 8 or #subType < 1 or #subType > 16 then
        fail("item types must have 1 to 8 and 1 to 16 characters")
    end
    local img = Img_Open(imagePath)
    local item = Img_FindItem(img, mainType, subType)
    local ok, why = true, nil
    if not item then
        ok, why = false, "imgdec_fun: " .. imagePath .. ": no item " .. mainType .. "/" .. subType
    else
        ok, why = pcall(extract, img, item, localPath)
    end
    Img_Close(img)
    if not ok then error(why, 0) end
end
