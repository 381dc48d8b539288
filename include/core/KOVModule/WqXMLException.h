#pragma once
#include <KOVModule/KOVExport.h>
#include <exception>
#include <string>

/// A refusal of the XML tree: a programming error, never caught by the library.
/// name() is the exception's name ("Duplicate attribute"), what() its reason.
class KOV_CORE_EXPORT WqXMLException : public std::exception {
 public:
  WqXMLException(std::string name, std::string reason)
      : name_(std::move(name)), reason_(std::move(reason)) {}
  const char* what() const noexcept override { return reason_.c_str(); }
  const std::string& name() const noexcept { return name_; }
  const std::string& reason() const noexcept { return reason_; }

 private:
  std::string name_;
  std::string reason_;
};
