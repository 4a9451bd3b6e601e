#include "DevLayer.h"

#include "FexDevice/dev_manager.h"
#include "Files.h"

#include <chrono>
#include <cstring>
#include <dlfcn.h>

using namespace std::chrono_literals;

namespace {

void* Library(const char* path)
{
    void* library = dlopen(path, RTLD_NOW);
    if (library == nullptr) {
        ADD_FAILURE() << "cannot load " << path << ": " << dlerror();
        std::abort();
    }
    return library;
}

} // namespace

void* PluginSymbol(const char* name)
{
    static void* library = Library(BinPath("VemoProc.Plg").c_str());
    return dlsym(library, name);
}

std::vector<simdev::CommandRecord> CommandsSince(const simdev::Board& board, size_t from)
{
    auto all = board.Commands();
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end()};
}

uint32_t BlockU32(const simdev::CommandRecord& record, unsigned offset)
{
    return uint32_t(record.block[offset]) | uint32_t(record.block[offset + 1]) << 8
        | uint32_t(record.block[offset + 2]) << 16 | uint32_t(record.block[offset + 3]) << 24;
}

simdev::BoardOptions BoardTest::FastOptions()
{
    simdev::BoardOptions options;
    options.fes_delay = 1ms;
    options.flash_size = 1 << 20;
    return options;
}

void BoardTest::SetUp()
{
    bus = std::make_unique<simdev::Bus>();
    ASSERT_TRUE(bus->Ok()) << bus->Error();
    Replug(FastOptions());
}

void BoardTest::Replug(simdev::BoardOptions options)
{
    if (board)
        bus->Unplug(*board);
    board = bus->Plug(std::move(options));
    ASSERT_TRUE(board);
    ASSERT_TRUE(board->WaitForStage(simdev::Stage::Fel, 5s));
    node_ = board->NodePath();
}

void BoardTest::BringToFes()
{
    constexpr uint32_t kLoadAddress = 0x00200000;
    auto payload = simdev::MakeSecondStage(Pattern(1000, 7));

    StageRecords records(Node());
    ASSERT_EQ(PLG(dev_manager_open_fel_dev)(&records.para), 0);
    EXPECT_EQ(PLG(cmd_fel_down)(&fex, records.priv.fel_dev_handle, payload.data(),
                  DeviceAddr(kLoadAddress), static_cast<unsigned>(payload.size())),
        static_cast<int>(payload.size()));
    EXPECT_EQ(PLG(cmd_fel_run)(&records.para, kLoadAddress), 0);
    EXPECT_EQ(PLG(dev_manager_close_fel_dev)(&records.para), 0);

    ASSERT_TRUE(board->WaitForStage(simdev::Stage::Fes, 5s));
    node_ = board->NodePath();
}

RawHandle::RawHandle(const std::string& path)
{
    EXPECT_EQ(PLG(dev_manager_open_raw_dev)(&Fex(), const_cast<char*>(path.c_str()), &m_handle), 0);
}

RawHandle::~RawHandle()
{
    if (m_handle != nullptr && m_handle != kNoDevice)
        PLG(dev_manager_close_raw_dev)(&Fex(), &m_handle);
}

StageRecords::StageRecords(const std::string& path, uint32_t mode)
{
    priv.efex_interf = &Fex();
    para.DeviceOpenMode = mode;
    strncpy(para.DevicePath, path.c_str(), sizeof para.DevicePath - 1);
    para.priv_info = &priv;
}
