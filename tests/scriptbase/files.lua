-- Script files of scriptbase.dll: streams, lines, raw descriptors with 64-bit
-- positions, deleting and copying.
local T = dofile((arg[0]:match("^(.*)/") or ".") .. "/testlib.lua")
T.register()

T.run({
  {"failed fopen gives a true null handle", function(dir)
    local f = fopen(dir .. "/missing", "rb")
    T.truthy(f, "handle is true in Lua")
    local h = MallocBuffer(16)
    T.eq(fread(f, h, 16), 0, "fread on it")
    T.eq(fwrite(f, h, 16), 0, "fwrite on it")
    fseek(f, 0, 0)
    fclose(f)
    FreeBuffer(h)
    local out, err, ok = T.child(dir, [[
      local r = fgetALine(fopen("]] .. dir .. [[/missing", "r"))
      io.stdout:write(tostring(r))
    ]])
    T.truthy(ok, "child ran")
    T.eq(out, "false", "fgetALine result")
    T.eq(err, "./filefun @ 98, file handle == null\n", "log line")
  end},

  {"stream write, seek and read", function(dir)
    local path = dir .. "/data.bin"
    local h = MallocBuffer(16)
    StringtoBuffer(h, "00112233445566778899aabbccddeeff")
    local f = fopen(path, "wb")
    T.eq(fwrite(f, h, 16), 16, "bytes written")
    fclose(f)
    T.eq(#T.readfile(path), 16, "file size")
    f = fopen(path, "rb")
    Memset(h, 0, 16)
    fseek(f, -4, 2)
    T.eq(fread(f, h, 16), 4, "short read at the end")
    T.eq(GetMemValue(h, 0, 4), "ccddeeff", "last four bytes")
    fseek(f, 2, 0)
    fseek(f, 3, 1)
    T.eq(fread(f, h, 1), 1, "one byte")
    T.eq(GetMemValue(h, 0, 1), "55", "position 5")
    fclose(f)
    FreeBuffer(h)
  end},

  {"fgetALine reads lines, pieces of long ones, and the end", function(dir)
    local path = dir .. "/text.txt"
    T.writefile(path, "one\ntwo\n\nlast")
    local f = fopen(path, "r")
    T.eq(fgetALine(f), "one\n", "line 1")
    T.eq(fgetALine(f), "two\n", "line 2")
    T.eq(fgetALine(f), "\n", "empty line")
    T.eq(fgetALine(f), "last", "last line without line end")
    T.eq(fgetALine(f), nil, "end of file")
    fclose(f)
    T.writefile(path, "")
    f = fopen(path, "r")
    T.eq(fgetALine(f), nil, "empty file")
    fclose(f)
    T.writefile(path, string.rep("x", 1500) .. "\nz\n")
    f = fopen(path, "r")
    T.eq(fgetALine(f), string.rep("x", 1023), "first piece")
    T.eq(fgetALine(f), string.rep("x", 477) .. "\n", "rest of the line")
    T.eq(fgetALine(f), "z\n", "next line")
    fclose(f)
  end},

  {"fgetALine on a write-only stream reports the read error", function(dir)
    local out, err, ok = T.child(dir, [[
      local f = fopen("]] .. dir .. [[/w.txt", "w")
      io.stdout:write(tostring(fgetALine(f)))
      fclose(f)
    ]])
    T.truthy(ok, "child ran")
    T.eq(out, "false", "result")
    T.eq(err, "./filefun @ 108, Bad file descriptor\n", "log line")
  end},

  {"LFopen modes", function(dir)
    local path = dir .. "/lf.bin"
    T.eq(LFopen(path, 0), -1, "mode 0 on a missing file")
    T.eq(LFopen(path, 1), -1, "mode 1 on a missing file")
    T.eq(LFopen(path, 3), -1, "mode 3")
    T.eq(T.readfile(path), nil, "mode 3 created nothing")
    local fd = LFopen(path, 2)
    T.truthy(fd >= 0, "mode 2 creates")
    local h = MallocBuffer(16)
    CharsToBuffer(h, "abcd")
    T.eq(LFwrite(fd, h, 4), 4, "LFwrite")
    LFclose(fd)
    local _, err, ok = T.child(dir, 'LFclose(LFopen("' .. dir .. '/made.bin", 2))', "umask 022;")
    T.truthy(ok, "child ran: " .. tostring(err))
    T.eq(T.shell("stat -c %a '" .. dir .. "/made.bin'"), "644", "a new file under umask 022")
    fd = LFopen(path, 2)
    LFclose(fd)
    T.eq(T.readfile(path), "abcd", "mode 2 keeps an existing file")
    fd = LFopen(path, 0)
    T.eq(LFwrite(fd, h, 4), nil, "read-only descriptor writes nothing")
    LFclose(fd)
    fd = LFopen(path, 1)
    CharsToBuffer(h, "XY")
    LFwrite(fd, h, 2)
    LFclose(fd)
    T.eq(T.readfile(path), "XYcd", "mode 1 writes in place")
    FreeBuffer(h)
  end},

  {"LFread: short reads and the end of file", function(dir)
    local path = dir .. "/hundred.bin"
    T.writefile(path, string.rep("\1", 100))
    local h = MallocBuffer(4096)
    Memset(h, 0xEE, 4096)
    local fd = LFopen(path, 0)
    T.eq(LFread(fd, h, 4096), 4096, "answers the amount asked for")
    T.eq(GetInt8FrmMem(h, 99), 1, "last byte read")
    T.eq(GetInt8FrmMem(h, 100), 0xEE, "nothing beyond the file")
    T.eq(LFread(fd, h, 4096), nil, "end of file")
    LFclose(fd)
    T.eq(LFread(-1, h, 16), nil, "no file")
    FreeBuffer(h)
  end},

  {"64-bit positions on a sparse file beyond 4 GiB", function(dir)
    local path = dir .. "/sparse.bin"
    local h = MallocBuffer(16)
    CharsToBuffer(h, "wxyz")
    local fd = LFopen(path, 2)
    LFseek(fd, 16, 1, 0)
    T.eq(LFwrite(fd, h, 4), 4, "write at 4 GiB + 16")
    LFclose(fd)
    local f = assert(io.open(path, "rb"))
    T.eq(f:seek("end"), 4294967316, "file size")
    f:close()

    fd = LFopen(path, 0)
    Memset(h, 0, 16)
    LFseek(fd, 16, 1, 0)
    T.eq(LFread(fd, h, 4), 4, "read at 4 GiB + 16")
    T.eq(BufferToChars(h, 0, 4), "wxyz", "data at 4 GiB + 16")
    T.eq(LFread(fd, h, 4), nil, "end of file beyond 4 GiB")
    LFseek(fd, 0, 1, 0)
    LFseek(fd, 14, 0, 1)
    Memset(h, 0xEE, 16)
    LFread(fd, h, 4)
    T.eq(GetMemValue(h, 0, 4), "00007778", "origin 1 adds to 4 GiB")
    LFseek(fd, 4294967294, 0, 0)
    Memset(h, 0xEE, 16)
    LFread(fd, h, 2)
    T.eq(GetMemValue(h, 0, 2), "0000", "hole just below 4 GiB")
    LFseek(fd, 0, 0, 2)
    T.eq(LFread(fd, h, 1), nil, "origin 2 is the end")
    LFclose(fd)
    FreeBuffer(h)
  end},

  {"a file size limit: LFwrite answers the full count, CopyFile leaves no half copy",
   function(dir)
    T.writefile(dir .. "/src.bin", string.rep("s", 100000))
    -- 8 blocks of 512 bytes may be written; beyond that write fails.
    local out, err, ok = T.child(dir, [[
      local dir = "]] .. dir .. [["
      local h = MallocBuffer(8192)
      Memset(h, 0x5A, 8192)
      local fd = LFopen(dir .. "/big.bin", 2)
      local first = LFwrite(fd, h, 8192)
      local second = LFwrite(fd, h, 16)
      LFclose(fd)
      io.stdout:write(tostring(first), " ", tostring(second))
      FreeBuffer(h)
      CopyFile(dir .. "/src.bin", dir .. "/copy.bin")
    ]], "trap '' XFSZ; ulimit -f 8;")
    T.truthy(ok, "child ran: " .. tostring(err))
    T.eq(out, "8192 nil", "partial write answers the amount asked for, a refused one nil")
    T.eq(#T.readfile(dir .. "/big.bin"), 4096, "bytes that reached the file")
    T.truthy(not T.readfile(dir .. "/copy.bin"), "failed copy removed")
    T.truthy(err:find("./filefun @ %d+, CopyFile .*/src.bin to .*/copy.bin: File too large\n$"),
      "reason logged: " .. err)
  end},

  {"fclose of a null handle flushes every output stream", function(dir)
    local path = dir .. "/pending.txt"
    local f = assert(io.open(path, "w"))
    f:write("pending")
    T.eq(T.readfile(path), "", "still in the stream's buffer")
    fclose(fopen(dir .. "/missing", "r"))
    T.eq(T.readfile(path), "pending", "flushed")
    f:close()
  end},

  {"DeleteFile", function(dir)
    local path = dir .. "/gone.txt"
    T.writefile(path, "x")
    DeleteFile(path)
    T.eq(T.readfile(path), nil, "removed")
    DeleteFile(path)
  end},

  {"CopyFile copies without a shell", function(dir)
    local src = dir .. "/a b;touch pwned $(touch pwned2).txt"
    T.writefile(src, "payload\0with zero")
    local dst = dir .. "/copy 'of' it.txt"
    CopyFile(src, dst)
    T.eq(T.readfile(dst), "payload\0with zero", "copied as named")
    T.eq(T.readfile(dir .. "/pwned"), nil, "nothing executed")
    T.eq(T.readfile("pwned2"), nil, "nothing executed in the working directory")
    os.execute("mkdir '" .. dir .. "/into'")
    CopyFile(dst, dir .. "/into")
    T.eq(T.readfile(dir .. "/into/copy 'of' it.txt"), "payload\0with zero", "into a directory")
    T.writefile(dst, "short")
    CopyFile(src, dst)
    T.eq(T.readfile(dst), "payload\0with zero", "replaces an existing file")
    CopyFile(src, src)
    T.eq(T.readfile(src), "payload\0with zero", "onto itself loses nothing")
    CopyFile(dir .. "/missing", dir .. "/never")
    T.eq(T.readfile(dir .. "/never"), nil, "missing source creates nothing")
  end},

  {"bad input gives clear errors and loses nothing", function(dir)
    local src = dir .. "/keep.txt"
    T.writefile(src, "keep")
    -- A destination that brings the pair to exactly 1019 characters, in
    -- components short enough for the file system.
    local long = dir
    while 1019 - #src - #long > 201 do
      long = long .. "/" .. string.rep("d", 200)
    end
    os.execute("mkdir -p '" .. long .. "'")
    long = long .. "/" .. string.rep("n", 1019 - #src - #long - 1)
    T.eq(#src + #long, 1019, "longest accepted pair")
    CopyFile(src, long)
    T.eq(T.readfile(long), "keep", "1019 characters are copied")
    T.raises("longer than 1019 characters", function() CopyFile(src, long .. "x") end)
    T.eq(T.readfile(long .. "x"), nil, "refused, nothing written")
    -- A nil path is a path that cannot be opened or found.
    local none = fopen(nil, "r")
    T.truthy(none, "fopen(nil) gives the null handle")
    T.eq(LFopen(nil, 2), -1, "LFopen(nil)")
    DeleteFile(nil)
    T.raises("string expected", function() LFopen({}, 0) end)
    T.raises("string expected", function() CopyFile(src) end)
    local fd = LFopen(src, 1)
    local h = MallocBuffer(16)
    T.eq(LFwrite(fd, nil, 0), nil, "no bytes from a nil handle")
    T.eq(LFread(fd, nil, 0), nil, "no bytes into a nil handle")
    T.raises("buffer handle is null", function() LFwrite(fd, nil, 4) end)
    T.raises("count must not be negative", function() LFread(fd, h, -1) end)
    LFclose(fd)
    local f = fopen(src, "rb")
    T.raises("buffer handle is null", function() fread(f, nil, 4) end)
    T.raises("count must not be negative", function() fwrite(f, h, -4) end)
    fclose(f)
    -- Lua's own streams are full userdata, not FILE addresses.
    for _, fn in ipairs({fclose, fgetALine}) do
      T.raises("not a stream from fopen", fn, io.stdout)
    end
    T.raises("not a stream from fopen", fread, io.stdin, h, 4)
    T.raises("not a stream from fopen", fwrite, io.stdout, h, 4)
    T.raises("not a stream from fopen", fseek, io.stdout, 0, 0)
    T.eq(T.readfile(src), "keep", "file untouched")
    FreeBuffer(h)
  end},
})
