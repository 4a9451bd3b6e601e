-- Script slips against every family of the script libraries' functions:
-- each case runs in a child interpreter, so a crash fails it, and must raise
-- an error naming the function and what was wrong, with the 16-byte buffer
-- h left as it was.
local T = dofile((arg[0]:match("^(.*)/") or ".") .. "/testlib.lua")

-- Run in each child before its case; DIR is the case's scratch directory.
local PRELUDE = [[
assert(package.loadlib("./blockcrypt.dll", "l_RegAllFun"))()
local KEPT = "00112233445566778899aabbccddeeff"
local h = MallocBuffer(16)
StringtoBuffer(h, KEPT)
local freed = MallocBuffer(16)
FreeBuffer(freed)
local data = DIR .. "/data.bin"
local w = io.open(data, "wb"); w:write(string.rep("d", 64)); w:close()
local f = fopen(data, "rb")
local closed = fopen(data, "rb")
fclose(closed)
local fd = LFopen(data, 0)
local closedFd = LFopen(data, 0)
LFclose(closedFd)
local ctx = Dec_Initial(h, 16)
local freedCtx = Dec_Initial(h, 16)
Dec_UnInitial(freedCtx)
local ok, err = pcall(function() CASE end)
local verdict = io.open(DIR .. "/verdict", "w")
verdict:write(ok and "no error" or tostring(err), "\n",
  BufferToString(h, 16) == KEPT and "kept" or "changed", "\n")
verdict:close()
]]

local OUTSIDE = "byte -2147483648 is outside its 16-byte buffer"

-- Family, the slip, the error it raises (all of it, or its end).
local CASES = {
  {"offsets", "GetMemValue(h, -2^31, 4)", "bad argument #1 to 'GetMemValue' (" .. OUTSIDE .. ")"},
  {"offsets", "SetMemValue(h, 16, '00')", "1-byte range from byte 16 passes the end of its 16-byte buffer"},
  {"offsets", "GetInt32FrmMem(h, 13)", "4-byte range from byte 13 passes the end of its 16-byte buffer"},
  {"offsets", "SetInt32FrmMem(h, -2^31, 1)", OUTSIDE},
  {"offsets", "GetInt16FrmMem(h, 15)", "2-byte range from byte 15 passes"},
  {"offsets", "SetInt16FrmMem(h, 2^31, 1)", OUTSIDE},
  {"offsets", "GetInt8FrmMem(h, 16)", "1-byte range from byte 16 passes"},
  {"offsets", "SetInt8FrmMem(h, -1, 0)", "byte -1 is outside"},
  {"offsets", "GetByteBitsFrmMem(h, 17, 0, 1)", "byte 17 is outside"},
  {"offsets", "SetByteBitsFrmMem(h, -2^31, 0, 1, 1)", OUTSIDE},
  {"offsets", "GetIntBitsFrmMem(h, 4, 0, 1)", "4-byte range from byte 16 passes"},
  {"offsets", "SetIntBitsFrmMem(h, -2^31, 0, 1, 1)", "byte -8589934592 is outside"},
  {"offsets", "BufferToChars(h, 10, 7)", "7-byte range from byte 10 passes"},
  {"offsets", "GetBuffer(h, 17)", "bad argument #1 to 'GetBuffer' (byte 17 is outside its 16-byte buffer)"},
  {"offsets", "GetBuffer(GetBuffer(h, 8), -9)", "byte -1 is outside"},
  -- Called through pcall, where Lua's debug information has no name.
  {"offsets", "assert(pcall(GetInt8FrmMem, h, 16))", "bad argument #1 to 'GetInt8FrmMem'"},
  {"counts", "Memset(h, 0, 17)", "bad argument #1 to 'Memset' (17-byte range passes the end of its 16-byte buffer)"},
  {"counts", "Memcpy(h, GetBuffer(h, 8), 9)", "bad argument #2 to 'Memcpy' (9-byte range from byte 8 passes"},
  {"counts", "Memcpy(GetBuffer(h, 8), h, 9)", "bad argument #1 to 'Memcpy' (9-byte range from byte 8 passes"},
  {"counts", "Memcmp(h, GetBuffer(h, 8), 16)", "bad argument #2 to 'Memcmp'"},
  {"counts", "BufferToString(h, 17)", "17-byte range passes"},
  {"counts", "calc_crc32(h, 17)", "bad argument #1 to 'calc_crc32' (17-byte range passes"},
  {"counts", "add_sum(h, 17, 0)", "17-byte range passes"},
  {"counts", "StringtoBuffer(h, string.rep('00', 17))", "17-byte range passes"},
  {"counts", "CharsToBuffer(h, string.rep('x', 17))", "17-byte range passes"},
  {"counts", "TraceBuffer(h, 17)", "17-byte range passes"},
  {"lifetime", "FreeBuffer(freed)", "bad argument #1 to 'FreeBuffer' (not a buffer from MallocBuffer, or freed already)"},
  {"lifetime", "FreeBuffer(GetBuffer(h, 4))", "byte 4 of a buffer, not its start: free the handle MallocBuffer gave"},
  {"lifetime", "FreeBuffer(f)", "not a buffer from MallocBuffer, or freed already"},
  {"lifetime", "Memset(freed, 0, 1)", "bad argument #1 to 'Memset' (not a live buffer from MallocBuffer)"},
  {"lifetime", "GetInt8FrmMem(f, 0)", "not a live buffer from MallocBuffer"},
  {"lifetime", "Memcpy(h, ctx, 16)", "bad argument #2 to 'Memcpy' (not a live buffer from MallocBuffer)"},
  {"lifetime", "Memset(io.stdout, 0, 8)", "a userdata of another library, not a buffer"},
  {"streams", "fseek(h, 0, 0)", "bad argument #1 to 'fseek' (not a stream from fopen, or closed already)"},
  {"streams", "fread(h, h, 4)", "bad argument #1 to 'fread' (not a stream from fopen"},
  {"streams", "fwrite(h, h, 4)", "bad argument #1 to 'fwrite' (not a stream from fopen"},
  {"streams", "fclose(h)", "bad argument #1 to 'fclose' (not a stream from fopen"},
  {"streams", "fgetALine(h)", "bad argument #1 to 'fgetALine' (not a stream from fopen"},
  {"streams", "fclose(closed)", "not a stream from fopen, or closed already"},
  {"streams", "fread(closed, h, 4)", "not a stream from fopen, or closed already"},
  {"streams", "fread(f, h, 17)", "bad argument #2 to 'fread' (17-byte range passes"},
  {"descriptors", "LFclose(closedFd)", "bad argument #1 to 'LFclose' (" },
  {"descriptors", "LFread(closedFd, h, 4)", "is not a descriptor from LFopen, or closed already"},
  {"descriptors", "LFwrite(1, h, 4)", "bad argument #1 to 'LFwrite' (1 is not a descriptor from LFopen"},
  {"descriptors", "LFseek(0, 0, 0, 0)", "0 is not a descriptor from LFopen"},
  {"descriptors", "LFread(fd, h, 17)", "bad argument #2 to 'LFread' (17-byte range passes"},
  {"cipher", "Dec_UnInitial(h)", "bad argument #1 to 'Dec_UnInitial' (not a live cipher context from Dec_Initial, or freed already)"},
  {"cipher", "Dec_UnInitial(freedCtx)", "not a live cipher context from Dec_Initial, or freed already"},
  {"cipher", "Dec_Encode(freedCtx, h, h)", "bad argument #1 to 'Dec_Encode' (not a live cipher context from Dec_Initial)"},
  {"cipher", "Dec_Decode(h, h, h)", "bad argument #1 to 'Dec_Decode' (not a live cipher context"},
  {"cipher", "Dec_Encode(ctx, GetBuffer(h, 8), h)", "bad argument #2 to 'Dec_Encode' (16-byte range from byte 8 passes the end of its 16-byte buffer)"},
  {"cipher", "Dec_Decode(ctx, h, freed)", "bad argument #3 to 'Dec_Decode' (not a live buffer from MallocBuffer)"},
  {"cipher", "Dec_Encode(ctx, io.stdout, h)", "a userdata of another library, not a buffer"},
  {"cipher", "Dec_Initial(GetBuffer(h, 8), 16)", "bad argument #1 to 'Dec_Initial' (16-byte range from byte 8 passes"},
  {"cipher", "Dec_Initial(freed, 40)", "bad argument #1 to 'Dec_Initial' (not a live buffer from MallocBuffer)"},
}

local cases = {}
for _, c in ipairs(CASES) do
  cases[#cases + 1] = {c[1] .. ": " .. c[2], function(dir)
    local code = PRELUDE:gsub("DIR", string.format("%q", dir)):gsub("CASE", function() return c[2] end)
    -- A slip that hangs a child (a lock in a stray FILE) fails too.
    local _, err, ok = T.child(dir, code, "timeout 60")
    T.truthy(ok, "child ended well (no crash): " .. tostring(err))
    local raised, kept = T.readfile(dir .. "/verdict"):match("^(.*)\n(%a+)\n$")
    T.truthy(raised:find(c[3], 1, true), "error text: " .. raised)
    T.eq(kept, "kept", "buffer h")
  end}
end
T.run(cases)
