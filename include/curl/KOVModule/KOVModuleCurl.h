#pragma once
/// Umbrella header of KOVModule::Curl: the transport over libcurl and the library's own loop.
#include <KOVModule/KOVModule.h>

#include <KOVModule/KOVCurlTransport.h>
#include <KOVModule/KOVCurlTrust.h>
#include <KOVModule/KOVEventLoop.h>
#include <KOVModule/KOVPollLoop.h>
