// Makes every operator new of the test process fail while switched on, to
// see how the plug-in center copes when memory runs out.
#pragma once

void FailAllocations(bool fail);
