// Raw and stage device handles: results, handle values, dev_state and logs.
#include "CaptureOutput.h"
#include "DevLayer.h"
#include "FexDevice/dev_manager.h"

#include <cstring>

namespace {

using DevManager = BoardTest;

TEST_F(DevManager, RawOpenAndCloseOfAMissingNode)
{
    void* handle = nullptr;
    CaptureOutput out(stdout);
    EXPECT_EQ(PLG(dev_manager_open_raw_dev)(&fex, const_cast<char*>(kMissingNode), &handle), 281);
    EXPECT_EQ(handle, kNoDevice);
    EXPECT_EQ(PLG(dev_manager_close_raw_dev)(&fex, &handle), -1);
    EXPECT_EQ(out.Text(),
        "PANIC : dev_manager_open_raw_dev() : can not open raw dev\n"
        "PANIC : dev_manager_close_raw_dev() : can not close raw dev\n");
}

TEST_F(DevManager, RawOpenRefusesMissingArguments)
{
    void* handle = nullptr;
    CaptureOutput out(stdout);
    EXPECT_EQ(PLG(dev_manager_open_raw_dev)(nullptr, NodeText(), &handle), 275);
    EXPECT_EQ(PLG(dev_manager_open_raw_dev)(&fex, nullptr, &handle), 275);
    EXPECT_EQ(PLG(dev_manager_open_raw_dev)(&fex, NodeText(), nullptr), 275);
    EXPECT_EQ(PLG(dev_manager_close_raw_dev)(nullptr, &handle), -1);
    EXPECT_EQ(PLG(dev_manager_close_raw_dev)(&fex, nullptr), -1);
    std::string text = out.Text();
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(text.find("PANIC : dev_manager_open_raw_dev() : input == NULL\n"), std::string::npos);
    EXPECT_NE(
        text.find("PANIC : dev_manager_close_raw_dev() : input == NULL\n"), std::string::npos);
    EXPECT_EQ(CommandCount(), 0u);
}

TEST_F(DevManager, RawHandleReachesTheBoardAndIsZeroAfterClose)
{
    void* handle = nullptr;
    ASSERT_EQ(PLG(dev_manager_open_raw_dev)(&fex, NodeText(), &handle), 0);
    ASSERT_NE(handle, nullptr);
    ASSERT_NE(handle, kNoDevice);
    tag_VERIFY_DEV_DATA verify {};
    EXPECT_EQ(PLG(cmd_common_verify_dev)(handle, &fex, &verify), 0);
    EXPECT_EQ(PLG(dev_manager_close_raw_dev)(&fex, &handle), 0);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(CommandCount(), 1u);
}

TEST_F(DevManager, StageOpenWithAnUnsupportedModeLogsItInHex)
{
    StageRecords records(Node(), DEVICE_OPEN_BY_LOCATION);
    CaptureOutput out(stdout);
    EXPECT_EQ(PLG(dev_manager_open_fel_dev)(&records.para), -1);
    EXPECT_EQ(out.Text(),
        "PANIC : DeviceOpenMode = 80 not support \n"
        "INFO : dev_manager_open_fel_dev() : open fel fail\n");
    EXPECT_EQ(records.priv.fel_dev_handle, nullptr);
    EXPECT_EQ(records.priv.dev_state, 0);
}

TEST_F(DevManager, StageOperationsRefuseMissingRecordsAndOtherKinds)
{
    StageRecords records(Node());
    records.para.priv_info = nullptr;
    CaptureOutput out(stdout);
    EXPECT_EQ(PLG(dev_manager_open_fes_dev)(nullptr), -1);
    EXPECT_EQ(PLG(dev_manager_open_fes_dev)(&records.para), -1);
    EXPECT_EQ(PLG(_dev_manager_close_efex_dev)(&records.para, 3), -1);
    EXPECT_EQ(PLG(dev_manager_close_fes_dev)(&records.para), -1);
    EXPECT_EQ(out.Text(),
        "PANIC : dev_manager_open_fel_dev() : input == NULL\n"
        "INFO : dev_manager_open_fes_dev() : open fel fail\n"
        "PANIC : dev_manager_open_fel_dev() : priv_info == NULL\n"
        "INFO : dev_manager_open_fes_dev() : open fel fail\n"
        "PANIC : _dev_manager_close_efex_dev() : input == NULL\n"
        "PANIC : _dev_manager_close_efex_dev() : priv_info == NULL\n"
        "INFO : dev_manager_close_fes_dev() : open fel fail\n");
}

TEST_F(DevManager, StageOpenRefusesAPathWithoutTerminator)
{
    StageRecords records(Node());
    memset(records.para.DevicePath, 'x', sizeof records.para.DevicePath);
    EXPECT_EQ(PLG(dev_manager_open_fel_dev)(&records.para), -1);
    EXPECT_EQ(records.priv.fel_dev_handle, nullptr);
}

TEST_F(DevManager, FailedStageOpenLeavesMinusOneAndTheState)
{
    StageRecords records(kMissingNode);
    records.priv.dev_state = 0;
    CaptureOutput out(stdout);
    EXPECT_EQ(PLG(dev_manager_open_fel_dev)(&records.para), -1);
    EXPECT_NE(out.Text().find("PANIC : dev_manager_open_fel_dev() : can not open fel dev\n"),
        std::string::npos);
    EXPECT_EQ(records.priv.fel_dev_handle, kNoDevice);
    EXPECT_EQ(records.priv.dev_state, 0);

    // A failed open holds no descriptor, so the record can be opened again.
    strcpy(records.para.DevicePath, Node().c_str());
    EXPECT_EQ(PLG(dev_manager_open_fel_dev)(&records.para), 0);
    EXPECT_EQ(PLG(dev_manager_close_fel_dev)(&records.para), 0);
}

TEST_F(DevManager, OpenAndCloseOneKindLeavesTheOtherUntouched)
{
    StageRecords records(Node());
    void* const marker = reinterpret_cast<void*>(intptr_t(0x5a5a));
    records.priv.fel_dev_handle = marker;

    ASSERT_EQ(PLG(dev_manager_open_fes_dev)(&records.para), 0);
    EXPECT_EQ(records.priv.dev_state, 1);
    EXPECT_NE(records.priv.fes_dev_handle, nullptr);
    EXPECT_NE(records.priv.fes_dev_handle, kNoDevice);

    EXPECT_EQ(PLG(dev_manager_close_fes_dev)(&records.para), 0);
    EXPECT_EQ(records.priv.dev_state, 0);
    EXPECT_EQ(records.priv.fes_dev_handle, nullptr);
    EXPECT_EQ(records.priv.fel_dev_handle, marker);
}

TEST_F(DevManager, CloseOfAKindNeverOpened)
{
    StageRecords records(Node());
    ASSERT_EQ(PLG(dev_manager_open_fel_dev)(&records.para), 0);
    CaptureOutput out(stdout);
    EXPECT_EQ(PLG(dev_manager_close_fes_dev)(&records.para), -1);
    EXPECT_EQ(out.Text(),
        "PANIC : _dev_manager_close_efex_dev() : no dev opened\n"
        "INFO : dev_manager_close_fes_dev() : open fel fail\n");
    EXPECT_EQ(records.priv.dev_state, 1);
    EXPECT_EQ(PLG(dev_manager_close_fel_dev)(&records.para), 0);
}

TEST_F(DevManager, SecondOpenOfAnOpenKindIsRefusedAndKeepsTheDescriptor)
{
    StageRecords records(Node());
    ASSERT_EQ(PLG(dev_manager_open_fel_dev)(&records.para), 0);
    void* const first = records.priv.fel_dev_handle;
    CaptureOutput out(stdout);
    EXPECT_EQ(PLG(dev_manager_open_fel_dev)(&records.para), -1);
    EXPECT_EQ(out.Text(),
        "PANIC : dev_manager_open_fel_dev() : dev already opened\n"
        "INFO : dev_manager_open_fel_dev() : open fel fail\n");
    EXPECT_EQ(records.priv.fel_dev_handle, first);

    tag_IS_READY_DATA ready;
    EXPECT_EQ(PLG(cmd_common_is_ready)(&records.para, &ready), 0);
    EXPECT_EQ(PLG(dev_manager_close_fel_dev)(&records.para), 0);
}

TEST_F(DevManager, WithBothKindsOpenOnlyTheFirstCloseSucceeds)
{
    StageRecords records(Node());
    ASSERT_EQ(PLG(dev_manager_open_fel_dev)(&records.para), 0);
    ASSERT_EQ(PLG(dev_manager_open_fes_dev)(&records.para), 0);
    EXPECT_EQ(records.priv.dev_state, 1);

    EXPECT_EQ(PLG(dev_manager_close_fel_dev)(&records.para), 0);
    EXPECT_EQ(records.priv.dev_state, 0);
    void* const fes = records.priv.fes_dev_handle;
    CaptureOutput out(stdout);
    EXPECT_EQ(PLG(dev_manager_close_fes_dev)(&records.para), -1);
    EXPECT_EQ(out.Text(),
        "PANIC : _dev_manager_close_efex_dev() : error state,not fel state\n"
        "INFO : dev_manager_close_fes_dev() : open fel fail\n");
    EXPECT_EQ(records.priv.fes_dev_handle, fes);
    fex.Fex_Close(&records.priv.fes_dev_handle);
}

} // namespace
