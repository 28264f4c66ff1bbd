// The services library: every public header.
#pragma once

#include "os_coscfg.h"
#include "os_cosfile.h"
#include "os_coslocale.h"
#include "os_cosfile_compress.h"
#include "os_coslog.h"
#include "os_cosmem.h"
#include "os_cossync.h"
#include "os_cosstring.h"
#include "os_costhread.h"
#include "os_cosxml.h"
#include "os_cosxmltask.h"
#include "os_sts.h"
#include "os_types.h"
