#pragma once
/// Umbrella header of the KOVModule core (no toolkit).

#include <KOVModule/KOVDecimal.h>
#include <KOVModule/KOVEndpointPolicy.h>
#include <KOVModule/KOVJournal.h>
#include <KOVModule/KOVModuleVersion.h>
#include <KOVModule/KOVRecordCheck.h>
#include <KOVModule/KOVRefusal.h>
#include <KOVModule/KOVState.h>
#include <KOVModule/KOVTransactionDetails.h>
#include <KOVModule/KOVTransactionHandlers.h>
#include <KOVModule/KOVTransactionLogEntryType.h>
#include <KOVModule/KOVTransactionOutcome.h>
#include <KOVModule/KOVTransactionRecoveryDetails.h>
#include <KOVModule/KOVTransactionResult.h>
#include <KOVModule/KOVTransactionResultDetails.h>
#include <KOVModule/KOVTransactionType.h>
#include <KOVModule/KOVURLSession.h>
#include <KOVModule/KOVXmlParserDelegate.h>
#include <KOVModule/KOVXmlUtils.h>
#include <KOVModule/NSStringDictionary.h>
#include <KOVModule/WqKOV.h>
#include <KOVModule/WqXMLDocument.h>
#include <KOVModule/WqXMLException.h>
#include <KOVModule/WqXMLNode.h>
