-- imgdec_fun.lua as the program runs it: a fresh Lua 5.1 state in the
-- program's directory runs the chunk, then Img_DownItemToLocal copies an item
-- out of an image. Images are made with vemora-imgtool and then damaged.
local failures = 0
local function check(ok, what)
    if not ok then
        failures = failures + 1
        io.stderr:write("FAIL: " .. what .. "\n")
    end
end

local dir = os.tmpname()
os.remove(dir)
assert(os.execute("mkdir " .. dir) == 0)
local function path(name) return dir .. "/" .. name end
local function write(p, data)
    local f = assert(io.open(p, "wb"))
    f:write(data)
    f:close()
end
local function read(p)
    local f = io.open(p, "rb")
    if not f then return nil end
    local data = f:read("*a")
    f:close()
    return data
end
local function exists(p) return read(p) ~= nil end
local function sh(command) return os.execute(command .. " >/dev/null 2>&1") == 0 end
local function pack(image, manifest)
    write(path("m.txt"), manifest)
    assert(sh("./vemora-imgtool pack " .. image .. " " .. path("m.txt")), "pack " .. image)
end
local function sparse(p, size, tailText)
    local f = assert(io.open(p, "wb"))
    assert(f:seek("set", size - #tailText))
    f:write(tailText)
    f:close()
end

-- The chunk brings scriptbase.dll along when the state lacks it.
check(MallocBuffer == nil, "the state starts without scriptbase.dll")
dofile("./imgdec_fun.lua")
check(type(Img_DownItemToLocal) == "function", "Img_DownItemToLocal is defined")
check(type(MallocBuffer) == "function" and type(LFopen) == "function",
    "imgdec_fun.lua loaded scriptbase.dll from its own directory")

-- CRC-32 pieces combine to the CRC-32 of the whole.
do
    local b = MallocBuffer(16)
    CharsToBuffer(b, "123456789")
    check(calc_crc32(b, 9) == 0xCBF43926, "calc_crc32 check value")
    local whole = Img_Crc32Combine(calc_crc32(b, 4), calc_crc32(GetBuffer(b, 4), 5), 5)
    check(whole == 0xCBF43926, "Img_Crc32Combine joins two pieces")
    check(Img_Crc32Combine(0, calc_crc32(b, 9), 9) == 0xCBF43926, "combine after nothing")
    FreeBuffer(b)
end

local TOOLS = string.rep("Tools = {} -- reference tool script\n", 2500) -- 90 KB
local BIG = string.rep("0123456789abcdef", 160000) .. "tail" -- 2.5 MiB: three chunks
write(path("tools.lua"), TOOLS)
write(path("big.bin"), BIG)
local good = path("good.img")
pack(good, "version \"T 1\"\n"
    .. "item UPFLYTLS xxxxxxxxxxxxxxxx tools.lua\n"
    .. "item PARTITON big big.bin target=0x100000\n")
local out = path("tools.scj")

local function extract(image, main, sub)
    return pcall(Img_DownItemToLocal, image, main or "UPFLYTLS", sub or "xxxxxxxxxxxxxxxx", out)
end

-- Good image: the item's bytes exactly, and nothing left beside them.
do
    write(out .. ".part", string.rep("stale", 100000))
    local ok, why = extract(good)
    check(ok, "good image: " .. tostring(why))
    check(read(out) == TOOLS, "the tool script item is copied exactly")
    check(not exists(out .. ".part"), "no work file stays behind")
    ok, why = extract(good, "PARTITON", "big")
    check(ok and read(out) == BIG, "an item of several chunks is copied exactly: " .. tostring(why))
    os.remove(out)
end

-- A target beyond 2^53, which no Lua number holds exactly, leaves the image
-- readable: the target reads as the nearest number.
do
    local far = path("far.img")
    pack(far, "item UPFLYTLS xxxxxxxxxxxxxxxx tools.lua target=0xFFFFFFFFFFFFFFFF\n")
    local ok, why = extract(far)
    check(ok and read(out) == TOOLS, "an item with a target beyond 2^53: " .. tostring(why))
    os.remove(out)
    local img = Img_Open(far)
    check(img.items[1].target == 2 ^ 64, "the target reads as the nearest number")
    Img_Close(img)
end

-- The reader for tool scripts.
do
    local img = Img_Open(good)
    check(img.version == "T 1" and #img.items == 2, "Img_Open reads header and table")
    local item = Img_FindItem(img, "PARTITON", "big")
    check(item and item.size == #BIG and item.target == 0x100000, "Img_FindItem")
    check(Img_FindItem(img, "PARTITON", "none") == nil, "Img_FindItem of a missing item")
    local b = MallocBuffer(16)
    Img_ReadItem(img, item, #BIG - 4, b, 4)
    check(BufferToChars(b, 0, 4) == "tail", "Img_ReadItem at an offset")
    local ok, why = pcall(Img_ReadItem, img, item, #BIG - 3, b, 4)
    check(not ok and why:find("lies outside item", 1, true), "Img_ReadItem past the item")
    FreeBuffer(b)
    Img_Close(img)
end

-- Every refusal raises a clear error and leaves no output file.
local image = read(good)
local function patched(at, byte)
    return image:sub(1, at) .. string.char(byte) .. image:sub(at + 2)
end
local toolAt = 4096 -- first item: right after header and table, aligned
local function spliced(bytes, at, text)
    return bytes:sub(1, at) .. text .. bytes:sub(at + #text + 1)
end
-- Writes the image and then its table and header CRC-32s as a maker would,
-- so only the planted fault is left for the reader to find; with tableAsIs
-- the table's CRC-32 stays as planted.
local function sealed(p, bytes, tableAsIs)
    write(p, bytes)
    local fd = LFopen(p, 1)
    local count = bytes:byte(17) + bytes:byte(18) * 256 -- the u32 item count, below 4096
    local tab = MallocBuffer(count * 128)
    local head = MallocBuffer(128)
    LFseek(fd, 128, 0, 0)
    LFread(fd, tab, count * 128)
    LFseek(fd, 0, 0, 0)
    LFread(fd, head, 128)
    if not tableAsIs then SetInt32FrmMem(head, 44, calc_crc32(tab, count * 128)) end
    SetInt32FrmMem(head, 48, 0)
    SetInt32FrmMem(head, 48, calc_crc32(head, 128))
    LFseek(fd, 0, 0, 0)
    LFwrite(fd, head, 128)
    LFclose(fd)
    FreeBuffer(tab)
    FreeBuffer(head)
end
sealed(path("align.img"), spliced(image, 40, "\232\3\0\0"))
-- The second entry takes the first one's types.
sealed(path("twice.img"), spliced(image, 128 + 128, image:sub(129, 128 + 24)))
-- Lengths that lie: the tool item's offset and size, the count, the table.
local FF8 = string.rep("\255", 8)
sealed(path("offset.img"), spliced(image, 128 + 24, FF8))
-- No items, while the table's CRC-32 still covers two.
sealed(path("empty.img"), spliced(image, 16, "\0\0\0\0"), true)
-- A byte after the 0 padding of the second entry's subtype "big".
sealed(path("padding.img"), spliced(image, 128 + 128 + 8 + 5, "x"))
sealed(path("size.img"), spliced(image, 128 + 32, "\0\0\0\1\0\0\0\0"))
sealed(path("count.img"), spliced(image, 16, "\136\19\0\0"))
sealed(path("tablepos.img"), spliced(image, 24, "\0\0\0\0\0\1\0\0"))
local cases = {
    { "missing.img", nil, "cannot open image" },
    { "short.img", "VMRIMAGE", "not a Vemora image (shorter than its header)" },
    { "foreign.img", string.rep("PK\3\4", 1024), "not a Vemora image (no \"VMRIMAGE\" magic)" },
    { "truncated.img", image:sub(1, #image - 100), "truncated image" },
    { "item.img", patched(toolAt + 5000, 0x21), "damaged item UPFLYTLS/xxxxxxxxxxxxxxxx" },
    { "table.img", patched(128 + 40, 0x55), "damaged item table" },
    { "empty.img", nil, "damaged item table" },
    { "version.img", patched(8, 2), "image format version 2 is not supported" },
    { "header.img", patched(70, 0x41), "damaged header" },
    { "align.img", nil, "bad item alignment 1000" },
    { "twice.img", nil, "item UPFLYTLS/xxxxxxxxxxxxxxxx appears twice" },
    { "offset.img", nil, "item offset is beyond 2^53 bytes" },
    { "padding.img", nil, "item PARTITON/big has a damaged type" },
    { "size.img", nil, "item UPFLYTLS/xxxxxxxxxxxxxxxx lies outside the image" },
    { "count.img", nil, "item count 5000 is above 4096" },
    { "tablepos.img", nil, "item table lies outside the image" },
}
for _, c in ipairs(cases) do
    if c[2] then write(path(c[1]), c[2]) end
    local ok, why = extract(path(c[1]))
    check(not ok and tostring(why):find(c[3], 1, true), c[1] .. " gives \"" .. c[3]
        .. "\", got " .. tostring(why))
    check(tostring(why):find("^imgdec_fun: "), c[1] .. ": the message names imgdec_fun")
    check(not exists(out) and not exists(out .. ".part"), c[1] .. " leaves no file")
end
do
    local ok, why = extract(good, "UPFLYTLS", "yyyy")
    check(not ok and why:find("no item UPFLYTLS/yyyy", 1, true), "missing item: " .. tostring(why))
    ok, why = pcall(Img_DownItemToLocal, good, "UPFLYTLS")
    check(not ok and why:find("four strings", 1, true), "missing arguments")
    check(not exists(out), "no file after a refused call")
end

-- Beyond 4 GiB: a sparse partition pushes the tool script across the 4 GiB
-- line and a third item past it.
do
    local FOUR = 4294967296
    sparse(path("hole.bin"), FOUR - 65536, "end of hole")
    write(path("after.bin"), "after four gigabytes")
    local far = path("far.img")
    pack(far, "item PARTITON hole hole.bin\n"
        .. "item UPFLYTLS xxxxxxxxxxxxxxxx tools.lua\n"
        .. "item PARTITON after after.bin\n")
    local img = Img_Open(far)
    local t = Img_FindItem(img, "UPFLYTLS", "xxxxxxxxxxxxxxxx")
    local a = Img_FindItem(img, "PARTITON", "after")
    check(t.offset < FOUR and t.offset + t.size > FOUR, "the tool item spans the 4 GiB line")
    check(a.offset > FOUR, "the last item lies beyond 4 GiB")
    Img_Close(img)
    local ok, why = extract(far)
    check(ok and read(out) == TOOLS, "item across 4 GiB copied exactly: " .. tostring(why))
    ok, why = extract(far, "PARTITON", "after")
    check(ok and read(out) == "after four gigabytes", "item beyond 4 GiB: " .. tostring(why))
    os.remove(out)
    assert(sh("truncate -s -5 " .. far))
    ok, why = extract(far)
    check(not ok and why:find("truncated image", 1, true), "truncated beyond 4 GiB: " .. tostring(why))
    check(not exists(out), "no file from the truncated image")
end

os.execute("rm -rf " .. dir)
if failures > 0 then
    io.stderr:write(failures .. " check(s) failed\n")
    os.exit(1)
end
print("\nimgdec_fun.lua: all checks passed")
