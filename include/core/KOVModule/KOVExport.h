#pragma once
/// Export macros of the libraries. KOV_CORE_EXPORT marks the public surface of
/// KOVModule::Core, KOV_CURL_EXPORT that of KOVModule::Curl, KOV_JOURNAL_EXPORT that of
/// KOVModule::Journal, KOV_QT_EXPORT that of KOVModule::Qt. Shared builds compile everything else with hidden visibility,
/// so only what is marked is part of the ABI. Static builds
/// define KOV_STATIC_DEFINE (the CMake targets and pkg-config files carry it), which leaves
/// the macros empty: a host that links the archives into its own shared object does not
/// re-export them.

#if defined(KOV_STATIC_DEFINE)
#define KOV_CORE_EXPORT
#define KOV_CURL_EXPORT
#define KOV_JOURNAL_EXPORT
#define KOV_QT_EXPORT
#elif defined(_WIN32)
#if defined(KOVModuleCore_EXPORTS)
#define KOV_CORE_EXPORT __declspec(dllexport)
#else
#define KOV_CORE_EXPORT __declspec(dllimport)
#endif
#if defined(KOVModuleCurl_EXPORTS)
#define KOV_CURL_EXPORT __declspec(dllexport)
#else
#define KOV_CURL_EXPORT __declspec(dllimport)
#endif
#if defined(KOVModuleJournal_EXPORTS)
#define KOV_JOURNAL_EXPORT __declspec(dllexport)
#else
#define KOV_JOURNAL_EXPORT __declspec(dllimport)
#endif
#if defined(KOVModuleQt_EXPORTS)
#define KOV_QT_EXPORT __declspec(dllexport)
#else
#define KOV_QT_EXPORT __declspec(dllimport)
#endif
#else
#define KOV_CORE_EXPORT __attribute__((visibility("default")))
#define KOV_CURL_EXPORT __attribute__((visibility("default")))
#define KOV_JOURNAL_EXPORT __attribute__((visibility("default")))
#define KOV_QT_EXPORT __attribute__((visibility("default")))
#endif
