#pragma once
/// Umbrella header of the KOVModule Qt layer: the core plus the Qt transport,
/// the status screen and the transaction facade.
#include <KOVModule/KOVModule.h>

#include <KOVModule/KOVDataUtils.h>
#include <KOVModule/KOVDeviceInfo.h>
#include <KOVModule/KOVHorzActivityIndicator.h>
#include <KOVModule/KOVLayoutConstraint.h>
#include <KOVModule/KOVLineAnimation.h>
#include <KOVModule/KOVQtTransport.h>
#include <KOVModule/KOVSpeaker.h>
#include <KOVModule/KOVQuadraticEaseOut.h>
#include <KOVModule/KOVTransaction.h>
#include <KOVModule/KOVWindowStyle.h>
#include <KOVModule/StatusView.h>
