// Makes every operator new and new[] of the test process fail while switched
// on, to see how the code under test copes when memory runs out.
#pragma once

void FailAllocations(bool fail);
