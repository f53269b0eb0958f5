// velmedia: the media engine of libpavo (devices, codecs, bandwidth control, FEC).
//
// Including this header brings in every class of the engine.
#pragma once

#include "velmedia/velaudio_device.h"
#include "velmedia/velbandwidth_ctrl.h"
#include "velmedia/velcapture.h"
#include "velmedia/velconvert.h"
#include "velmedia/velfec.h"
#include "velmedia/velmedia_types.h"
#include "velmedia/velsample_encode.h"
#include "velmedia/velscreen.h"
#include "velmedia/velvideo_dec.h"
#include "velmedia/velvideo_enc.h"

// Prepares the shared device and codec layers and keeps them loaded until the matching
// velmedia_destroy. Counted: every call pairs with one velmedia_destroy; the layers are
// released with the last one. Each libpavo instance calls it once at create. The classes
// also work without it (they load what they need themselves). 0 done, negative failed.
int velmedia_init();

// Releases one velmedia_init. 0 done; -1 without a matching init.
int velmedia_destroy();
