#include "SimTransaction.h"

#include <cstdio>
#include <ctime>
#include <utility>
#include <vector>

namespace kovsim {
namespace {

constexpr const char* kCardName = "VISA";
constexpr const char* kMaskedCard = "411111******1111";

std::string upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return text;
}

std::string numbered(const char* format, std::uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, format, static_cast<unsigned long long>(value));
  return text;
}

// Dates of the result in UTC, so the simulator's answers do not depend on the machine's zone.
std::string utcText(std::time_t when, const char* format) {
  std::tm parts{};
  gmtime_r(&when, &parts);
  char text[32];
  std::strftime(text, sizeof text, format, &parts);
  return text;
}

// A receipt is sent as one text; the client cuts it every kReceiptWidth characters, so
// each line is padded (or cut) to exactly that width.
std::string receiptOf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    std::string piece = line.substr(0, SimTransaction::kReceiptWidth);
    piece.resize(SimTransaction::kReceiptWidth, ' ');
    text += piece;
  }
  return text;
}

std::string amountLine(const SimTransactionInfo& info) {
  std::string left = upper(info.txnType);
  std::string right = info.currency.empty() ? info.amount : info.currency + " " + info.amount;
  const std::size_t width = SimTransaction::kReceiptWidth;
  if (left.size() + 1 + right.size() < width) {
    left.resize(width - right.size(), ' ');
  } else {
    left += ' ';
  }
  return left + right;
}

}  // namespace

SimTransaction::SimTransaction(SimTransactionInfo info, SimScenario scenario, double speed,
                               Clock::time_point now)
    : _info(std::move(info)), _scenario(scenario), _speed(speed > 0 ? speed : 1.0) {
  enter(Step::Card, now);
  _version = 0;
}

std::optional<SimTransaction::Clock::duration> SimTransaction::durationOf(Step step) const {
  std::chrono::milliseconds base{0};
  switch (step) {
    case Step::Card: base = kCardTime; break;
    case Step::Account: base = kAccountTime; break;
    case Step::Pin: base = kPinTime; break;
    case Step::Processing: base = kProcessingTime; break;
    case Step::Signature:  // waits for the operator's answer
    case Step::Done: return std::nullopt;
  }
  return std::chrono::duration_cast<Clock::duration>(base / _speed);
}

SimTransaction::Step SimTransaction::stepAfter(Step step) const {
  switch (step) {
    case Step::Card: return Step::Account;
    case Step::Account: return Step::Pin;
    case Step::Pin: return Step::Processing;
    case Step::Processing: return _scenario.terminal == SimTerminal::Signature ? Step::Signature : Step::Done;
    case Step::Signature:
    case Step::Done: break;
  }
  return Step::Done;
}

void SimTransaction::enter(Step step, Clock::time_point from) {
  _step = step;
  ++_version;
  const auto duration = durationOf(step);
  _deadline = duration ? std::optional<Clock::time_point>(from + *duration) : std::nullopt;
}

bool SimTransaction::advance(Clock::time_point now) {
  bool changed = false;
  // Deadlines follow each other from the previous one, so a late look gives the same
  // screen as a punctual one.
  while (_deadline && now >= *_deadline) {
    const Clock::time_point from = *_deadline;
    changed = true;
    if (_step == Step::Card && _scenario.terminal == SimTerminal::Cancel) {
      finish(Outcome::Cancelled);
    } else if (_step == Step::Processing && _scenario.terminal == SimTerminal::Decline) {
      finish(Outcome::Declined);
    } else {
      const Step next = stepAfter(_step);
      if (next == Step::Done) {
        finish(Outcome::Approved);
      } else {
        enter(next, from);
      }
    }
  }
  return changed;
}

bool SimTransaction::press(const std::string& buttonName, Clock::time_point now) {
  advance(now);
  const SimScreen shown = screen();
  const bool first = buttonName == "B1";
  if (finished() || (!first && buttonName != "B2") ||
      !(first ? shown.button1.enabled : shown.button2.enabled)) {
    return false;
  }
  switch (_step) {
    case Step::Card:
    case Step::Pin:
      // The issuer approved before the press reached the terminal: too late to stop it.
      if (_scenario.terminal == SimTerminal::LateCancel) {
        return false;
      }
      finish(Outcome::Cancelled);
      return true;
    case Step::Account:
      _account = first ? shown.button1.label : shown.button2.label;
      enter(Step::Pin, now);
      return true;
    case Step::Signature:
      finish(first ? Outcome::Approved : Outcome::SignatureDeclined);
      return true;
    case Step::Processing:
    case Step::Done: break;
  }
  return false;
}

SimScreen SimTransaction::screen() const {
  SimScreen shown;
  switch (_step) {
    case Step::Card:
      shown.line1 = "PRESENT/INSERT CARD";
      shown.line2 = amountLine(_info);
      shown.button1 = {"CANCEL", true};
      break;
    case Step::Account:
      shown.line1 = "SELECT ACCOUNT";
      shown.line2 = amountLine(_info);
      shown.button1 = {"CHQ", true};
      shown.button2 = {"SAV", true};
      break;
    case Step::Pin:
      shown.line1 = "ENTER PIN";
      shown.line2 = amountLine(_info);
      shown.button1 = {"CANCEL", true};
      break;
    case Step::Processing:
      shown.line1 = "PROCESSING";
      shown.line2 = "PLEASE WAIT";
      break;
    case Step::Signature:
      shown.line1 = "SIGNATURE OK?";
      shown.line2 = "CHECK SIGNATURE";
      shown.button1 = {"YES", true};
      shown.button2 = {"NO", true};
      shown.receipt = receiptText(true, "SIGNATURE REQUIRED");
      shown.receiptWidth = kReceiptWidth;
      break;
    case Step::Done: break;
  }
  return shown;
}

std::string SimTransaction::receiptText(bool withSignatureLine, const std::string& outcomeLine) const {
  std::vector<std::string> lines{"KOV SIMULATOR", "STATION " + _info.station, "REF " + _info.txnRef,
                                 amountLine(_info)};
  lines.push_back(std::string(kCardName) + " " + kMaskedCard);
  lines.push_back("ACCOUNT " + _account);
  lines.push_back(outcomeLine);
  if (withSignatureLine) {
    lines.push_back("");
    lines.push_back("SIGN: __________________");
  }
  return receiptOf(lines);
}

void SimTransaction::finish(Outcome outcome) {
  const Step endedAt = _step;
  _step = Step::Done;
  _deadline.reset();
  ++_version;

  const std::time_t now = std::time(nullptr);
  const std::uint64_t n = _info.sequence;
  std::string responseCode;
  std::string responseText;
  bool approved = false;
  bool cardRead = true;
  switch (outcome) {
    case Outcome::Approved:
      approved = true;
      responseCode = "00";
      responseText = "APPROVED";
      _result.line1 = "ACCEPTED";
      break;
    case Outcome::Declined:
      responseCode = "51";
      responseText = "DECLINED";
      _result.line1 = "DECLINED";
      break;
    case Outcome::SignatureDeclined:
      responseCode = "S2";
      responseText = "SIGNATURE DECLINED";
      _result.line1 = "DECLINED";
      break;
    case Outcome::Cancelled:
      responseCode = "TC";
      responseText = "CANCELLED";
      _result.line1 = "CANCELLED";
      cardRead = endedAt != Step::Card;
      break;
  }
  _result.line2 = responseText;
  const std::string authCode = approved ? numbered("%06llu", 100000 + n % 900000) : "";
  auto& fields = _result.fields;
  fields = {{"AP", approved ? "1" : "0"}, {"RC", responseCode}, {"RT", responseText}, {"AC", authCode}};
  if (cardRead) {
    fields.emplace_back("CN", kMaskedCard);
    fields.emplace_back("CT", kCardName);
  }
  fields.emplace_back("DT", utcText(now, "%Y-%m-%d %H:%M:%S"));
  fields.emplace_back("DT_TZ", "UTC");
  if (approved) {
    fields.emplace_back("DS", utcText(now + 24 * 60 * 60, "%Y-%m-%d"));
    fields.emplace_back("DS_TZ", "UTC");
  }
  fields.emplace_back("RRN", numbered("%012llu", n));
  fields.emplace_back("TR", numbered("SIM%06llu", n));
  if (cardRead) {
    fields.emplace_back("RID", "A000000003");
    fields.emplace_back("PIX", "1010");
    fields.emplace_back("CN2", "1111");
  }
  fields.emplace_back("DBID", numbered("DB%06llu", n));
  fields.emplace_back("Rcpt", receiptText(false, approved ? "APPROVED  AUTH " + authCode : responseText));
  fields.emplace_back("RcptW", std::to_string(kReceiptWidth));
}

}  // namespace kovsim
