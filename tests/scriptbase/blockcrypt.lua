-- The block cipher binding of blockcrypt.dll driven with buffers of
-- scriptbase.dll, as a tool script does it, against published RC6 vectors.
local T = dofile((arg[0]:match("^(.*)/") or ".") .. "/testlib.lua")
T.register()
assert(package.loadlib("./blockcrypt.dll", "l_RegAllFun"))()

-- RC6-32/20/b vectors from the RC6 publication: key, plaintext, ciphertext.
local VECTORS = {
  {string.rep("00", 16), string.rep("00", 16), "8fc3a53656b1f778c129df4e9848a41e"},
  {"0123456789abcdef0112233445566778", "02132435465768798a9bacbdcedfe0f1",
    "524e192f4715c6231f51f6367ea43f18"},
  {string.rep("00", 24), string.rep("00", 16), "6cd61bcb190b30384e8a3f168690ae82"},
  {string.rep("00", 32), string.rep("00", 16), "8f5fbd0510d15fa893fa3fda6e857ec2"},
}

local function buffer(hex)
  local h = MallocBuffer(#hex / 2)
  StringtoBuffer(h, hex)
  return h
end

-- A failed fopen hands out the null light userdata to compare against.
local NULL = fopen("/nonexistent/scriptbase-test", "rb")

T.run({
  {"Dec_Initial ... Dec_UnInitial against the vectors", function()
    for i, v in ipairs(VECTORS) do
      local key, plain, out = buffer(v[1]), buffer(v[2]), MallocBuffer(16)
      local ctx = Dec_Initial(key, #v[1] / 2)
      T.truthy(ctx ~= NULL, "context " .. i)
      T.eq(Dec_Encode(ctx, plain, out), out, "Dec_Encode returns its output buffer")
      T.eq(BufferToString(out, 16), v[3], "ciphertext " .. i)
      local back = MallocBuffer(16)
      T.eq(Dec_Decode(ctx, out, back), back, "Dec_Decode returns its output buffer")
      T.eq(BufferToString(back, 16), v[2], "decrypted " .. i)
      T.eq(Dec_UnInitial(ctx), ctx, "the freed handle comes back")
      FreeBuffer(key); FreeBuffer(plain); FreeBuffer(out); FreeBuffer(back)
    end
  end},

  {"in place over several blocks", function()
    local key = buffer("000102030405060708090a0b0c0d0e0f1011")
    local ctx = Dec_Initial(key, 18)
    local data = MallocBuffer(64)
    for i = 0, 63 do SetInt8FrmMem(data, i, i * 7) end
    local before = BufferToString(data, 64)
    for block = 0, 3 do
      local b = GetBuffer(data, block * 16)
      Dec_Encode(ctx, b, b)
    end
    T.truthy(BufferToString(data, 64) ~= before, "encrypted")
    for block = 0, 3 do
      local b = GetBuffer(data, block * 16)
      Dec_Decode(ctx, b, b)
    end
    T.eq(BufferToString(data, 64), before, "round trip")
    Dec_UnInitial(ctx)
    FreeBuffer(key); FreeBuffer(data)
  end},

  {"refused keys give the null context", function()
    local key = buffer(string.rep("11", 40))
    T.eq(Dec_Initial(key, 0), NULL, "length 0")
    T.eq(Dec_Initial(key, 33), NULL, "length 33")
    T.eq(Dec_Initial(nil, 16), NULL, "no key")
    local out = MallocBuffer(16)
    Memset(out, 0xAA, 16)
    Dec_Encode(NULL, key, out)
    T.eq(BufferToString(out, 16), string.rep("aa", 16), "null context writes nothing")
    FreeBuffer(key); FreeBuffer(out)
  end},
})
