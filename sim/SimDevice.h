// The simulated device: virtual boards on a virtual USB bus
// (libvemora_simdev.so, test support, never a deliverable). Tests include
// this header and link vemora_simdev; docs/simulated-device.md is the guide.
//
// Each part is declared beside the sources that make it:
//   uevent/Uevent.h      a uevent as sent, and the parser for reading one
//   board/BoardTypes.h   what a board is given (options, faults, link) and what
//                        it records; second-stage payloads
//   bus/Bus.h            Bus, which plugs boards, and the Board handle
//   preload/EnvConfig.h  options from VEMORA_SIM_* variables
// Inside the library a folder includes headers of its own, of the folders
// before it in that list (never of one after it) and the driver stand-in's
// SimDriver.h; another folder's header is named from sim/
// ("uevent/UeventText.h").
#pragma once

#include "board/BoardTypes.h"
#include "bus/Bus.h"
#include "preload/EnvConfig.h"
#include "uevent/Uevent.h"
