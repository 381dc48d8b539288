#pragma once
#include <KOVModule/KOVTransactionResult.h>

#include <string>

/// The result code's name for people ("Succeeded", "Timeout", ...).
std::string resultName(KOVTransactionResult result);
