#include "Usbwire.h"

void WireTest::SetUp()
{
    simdrv::AttachNode(kNode, model);
    ASSERT_EQ(fex.Fex_Open(&handle, const_cast<char*>(kNode)), 0);
}

void WireTest::TearDown()
{
    if (handle != nullptr && handle != kNoDevice)
        fex.Fex_Close(&handle);
    simdrv::DetachNode(kNode);
}
