#include "BlockCrypt.h"
#include "ModulePath.h"

#include <array>
#include <cryptopp/rc6.h>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lua.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Block = std::array<unsigned char, 16>;

std::vector<unsigned char> FromHex(const std::string& hex)
{
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

Block BlockFromHex(const std::string& hex)
{
    Block block {};
    const std::vector<unsigned char> bytes = FromHex(hex);
    std::memcpy(block.data(), bytes.data(), block.size());
    return block;
}

// blockcrypt.dll as scripts and tests reach it: dlopen from build/bin.
class BlockCrypt : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char path[MAX_PATH_LEN];
        ASSERT_GT(GetModuleRelPath("blockcrypt.dll", path), 0);
        s_library = dlopen(path, RTLD_NOW);
        ASSERT_NE(s_library, nullptr) << dlerror();
        s_initial = reinterpret_cast<decltype(&Initial)>(dlsym(s_library, "Initial"));
        s_encode = reinterpret_cast<decltype(&Encode)>(dlsym(s_library, "Encode"));
        s_decode = reinterpret_cast<decltype(&Decode)>(dlsym(s_library, "Decode"));
        s_unInitial = reinterpret_cast<decltype(&UnInitial)>(dlsym(s_library, "UnInitial"));
        ASSERT_TRUE(s_initial && s_encode && s_decode && s_unInitial);
    }
    static void TearDownTestSuite() { dlclose(s_library); }

    static void* s_library;
    static decltype(&Initial) s_initial;
    static decltype(&Encode) s_encode;
    static decltype(&Decode) s_decode;
    static decltype(&UnInitial) s_unInitial;
};

void* BlockCrypt::s_library;
decltype(&Initial) BlockCrypt::s_initial;
decltype(&Encode) BlockCrypt::s_encode;
decltype(&Decode) BlockCrypt::s_decode;
decltype(&UnInitial) BlockCrypt::s_unInitial;

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// RC6-32/20/b test vectors of the RC6 publication.
const Vector kVectors[] = {
    {"00000000000000000000000000000000", "00000000000000000000000000000000",
        "8fc3a53656b1f778c129df4e9848a41e"},
    {"0123456789abcdef0112233445566778", "02132435465768798a9bacbdcedfe0f1",
        "524e192f4715c6231f51f6367ea43f18"},
    {"000000000000000000000000000000000000000000000000", "00000000000000000000000000000000",
        "6cd61bcb190b30384e8a3f168690ae82"},
    {"0123456789abcdef0112233445566778899aabbccddeeff0", "02132435465768798a9bacbdcedfe0f1",
        "688329d019e505041e52e92af95291d4"},
    {"0000000000000000000000000000000000000000000000000000000000000000",
        "00000000000000000000000000000000", "8f5fbd0510d15fa893fa3fda6e857ec2"},
    {"0123456789abcdef0112233445566778899aabbccddeeff01032547698badcfe",
        "02132435465768798a9bacbdcedfe0f1", "c8241816f0d7e48920ad16a1674e5d48"},
};

TEST_F(BlockCrypt, PublishedVectors)
{
    for (const Vector& v : kVectors) {
        std::vector<unsigned char> key = FromHex(v.key);
        Block plain = BlockFromHex(v.plain);
        const Block cipher = BlockFromHex(v.cipher);
        void* ctx = s_initial(key.data(), static_cast<unsigned int>(key.size()));
        ASSERT_NE(ctx, nullptr);
        Block out {};
        EXPECT_EQ(s_encode(ctx, plain.data(), out.data()), 0);
        EXPECT_EQ(out, cipher) << "key " << v.key;
        Block back {};
        EXPECT_EQ(s_decode(ctx, out.data(), back.data()), 0);
        EXPECT_EQ(back, plain) << "key " << v.key;
        EXPECT_EQ(s_unInitial(ctx), 0);
    }
}

TEST_F(BlockCrypt, RoundTripForEveryKeyLengthAlsoInPlace)
{
    std::mt19937 random(1);
    for (unsigned int len = 1; len <= 32; ++len) {
        std::vector<unsigned char> key(len);
        for (unsigned char& b : key)
            b = static_cast<unsigned char>(random());
        void* ctx = s_initial(key.data(), len);
        ASSERT_NE(ctx, nullptr) << len;
        for (int n = 0; n < 8; ++n) {
            Block plain;
            for (unsigned char& b : plain)
                b = static_cast<unsigned char>(random());
            Block cipher {}, back {};
            ASSERT_EQ(s_encode(ctx, plain.data(), cipher.data()), 0);
            EXPECT_NE(cipher, plain);
            ASSERT_EQ(s_decode(ctx, cipher.data(), back.data()), 0);
            EXPECT_EQ(back, plain) << "key length " << len;

            Block inPlace = plain;
            ASSERT_EQ(s_encode(ctx, inPlace.data(), inPlace.data()), 0);
            EXPECT_EQ(inPlace, cipher) << "key length " << len;
            ASSERT_EQ(s_decode(ctx, inPlace.data(), inPlace.data()), 0);
            EXPECT_EQ(inPlace, plain) << "key length " << len;
        }
        EXPECT_EQ(s_unInitial(ctx), 0);
    }
}

TEST_F(BlockCrypt, AgreesWithCryptoPlusPlus)
{
    std::mt19937 random(20);
    for (int k = 0; k < 2000; ++k) {
        const unsigned int len = 1 + k % 32;
        std::vector<unsigned char> key(len);
        for (unsigned char& b : key)
            b = static_cast<unsigned char>(random());
        void* ctx = s_initial(key.data(), len);
        ASSERT_NE(ctx, nullptr);
        // Crypto++ admits only 16, 24 and 32 bytes through SetKey; its key
        // schedule itself takes any length.
        CryptoPP::RC6::Encryption theirEncryption;
        theirEncryption.UncheckedSetKey(key.data(), len, CryptoPP::g_nullNameValuePairs);
        CryptoPP::RC6::Decryption theirDecryption;
        theirDecryption.UncheckedSetKey(key.data(), len, CryptoPP::g_nullNameValuePairs);
        for (int n = 0; n < 4; ++n) {
            Block block;
            for (unsigned char& b : block)
                b = static_cast<unsigned char>(random());
            Block ours {}, theirs {};
            ASSERT_EQ(s_encode(ctx, block.data(), ours.data()), 0);
            theirEncryption.ProcessBlock(block.data(), theirs.data());
            ASSERT_EQ(ours, theirs) << "encrypting, key length " << len << ", key " << k;
            ASSERT_EQ(s_decode(ctx, block.data(), ours.data()), 0);
            theirDecryption.ProcessBlock(block.data(), theirs.data());
            ASSERT_EQ(ours, theirs) << "decrypting, key length " << len << ", key " << k;
        }
        ASSERT_EQ(s_unInitial(ctx), 0);
    }
}

TEST_F(BlockCrypt, RefusesBadKeysAndNullPointersWithoutWriting)
{
    unsigned char key[40] = {1, 2, 3};
    EXPECT_EQ(s_initial(nullptr, 16), nullptr);
    EXPECT_EQ(s_initial(key, 0), nullptr);
    EXPECT_EQ(s_initial(key, 33), nullptr);
    EXPECT_EQ(s_initial(key, 0xFFFFFFFFu), nullptr);

    void* ctx = s_initial(key, 16);
    ASSERT_NE(ctx, nullptr);
    Block in {};
    Block out;
    out.fill(0xA5);
    const Block untouched = out;
    EXPECT_EQ(s_encode(nullptr, in.data(), out.data()), 110);
    EXPECT_EQ(s_encode(ctx, nullptr, out.data()), 110);
    EXPECT_EQ(s_encode(ctx, in.data(), nullptr), 110);
    EXPECT_EQ(s_decode(nullptr, in.data(), out.data()), 162);
    EXPECT_EQ(s_decode(ctx, nullptr, out.data()), 162);
    EXPECT_EQ(s_decode(ctx, in.data(), nullptr), 162);
    EXPECT_EQ(out, untouched);
    EXPECT_EQ(s_unInitial(nullptr), 204);
    EXPECT_EQ(s_unInitial(ctx), 0);
}

TEST_F(BlockCrypt, OneContextServesManyThreads)
{
    unsigned char key[24] = {9, 8, 7};
    void* ctx = s_initial(key, sizeof key);
    ASSERT_NE(ctx, nullptr);
    Block plain {};
    Block expected {};
    ASSERT_EQ(s_encode(ctx, plain.data(), expected.data()), 0);
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int n = 0; n < 5000; ++n) {
                Block out {};
                s_encode(ctx, plain.data(), out.data());
                mismatches[t] += out != expected;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int m : mismatches)
        EXPECT_EQ(m, 0);
    EXPECT_EQ(s_unInitial(ctx), 0);
}

// The binding seen from a Lua state, with full userdata as buffers.
TEST_F(BlockCrypt, BindingRegistersFourGlobalsAndRefusesWrappedLengths)
{
    auto regAll = reinterpret_cast<lua_CFunction>(dlsym(s_library, "l_RegAllFun"));
    ASSERT_NE(regAll, nullptr);
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    lua_pushcfunction(L, regAll);
    ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0);
    lua_settop(L, 0);

    auto* key = static_cast<unsigned char*>(lua_newuserdata(L, 16));
    std::memset(key, 0, 16);
    lua_setglobal(L, "key");
    auto* in = static_cast<unsigned char*>(lua_newuserdata(L, 16));
    std::memset(in, 0, 16);
    lua_setglobal(L, "input");
    auto* out = static_cast<unsigned char*>(lua_newuserdata(L, 16));
    lua_setglobal(L, "output");

    const char* script = R"(
        for _, name in ipairs({"Dec_Initial", "Dec_Encode", "Dec_Decode", "Dec_UnInitial"}) do
            assert(type(_G[name]) == "function", name)
        end
        assert(l_RegAllFun == nil and Dec_RegAllFun == nil)
        local wrapped = Dec_Initial(key, 4294967296 + 16)
        local ctx = Dec_Initial(key, 16)
        assert(Dec_Encode(ctx, input, output) == output)
        assert(Dec_UnInitial(ctx) == ctx)
        return wrapped, ctx
    )";
    ASSERT_EQ(luaL_dostring(L, script), 0) << lua_tostring(L, -1);
    EXPECT_EQ(lua_type(L, 1), LUA_TLIGHTUSERDATA);
    EXPECT_EQ(lua_touserdata(L, 1), nullptr);
    EXPECT_NE(lua_touserdata(L, 2), nullptr);
    EXPECT_EQ(std::memcmp(out, BlockFromHex(kVectors[0].cipher).data(), 16), 0);
    lua_close(L);
}

} // namespace
