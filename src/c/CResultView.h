#pragma once
// A result record as the kov_result that on_result receives. The struct points into the record,
// which must outlive the view, and into the view, which keeps its own copy of the reference and
// the outcome.
#include <KOVModule/KOVTransactionOutcome.h>
#include <KOVModule/KOVTransactionResultDetails.h>
#include <KOVModule/kov.h>

#include <string>
#include <vector>

class CResultView {
 public:
  CResultView(const KOVTransactionResultDetails& record, const std::string& txnRef,
              const KOVTransactionOutcome& outcome);
  CResultView(const CResultView&) = delete;
  CResultView& operator=(const CResultView&) = delete;

  const kov_result& result() const { return _result; }

 private:
  std::string _txnRef;
  KOVTransactionOutcome _outcome;
  std::vector<const char*> _keys;
  std::vector<const char*> _values;
  kov_result _result{};
};
