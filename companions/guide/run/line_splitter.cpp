#include "line_splitter.h"

#include <algorithm>

void LineSplitter::emit(std::vector<SplitLine>* out) {
  if (!pending_.empty() && pending_.back() == '\r') {
    pending_.pop_back();
  }
  bool cut = pending_.size() > maxLength_;
  if (cut) {
    pending_.resize(maxLength_);
  }
  out->push_back(SplitLine{std::move(pending_), cut});
  pending_.clear();
}

void LineSplitter::feed(const std::string& bytes, std::vector<SplitLine>* out) {
  size_t start = 0;
  while (start < bytes.size()) {
    size_t newline = bytes.find('\n', start);
    size_t end = newline == std::string::npos ? bytes.size() : newline;
    if (!dropping_) {
      // One byte beyond the bound is kept, for a CR that may come before the LF; a line that
      // goes further is longer than the bound whatever follows.
      size_t room = maxLength_ + 1 - pending_.size();
      if (end - start > room) {
        pending_.append(bytes, start, std::min(room, end - start));
        pending_.resize(maxLength_);
        out->push_back(SplitLine{std::move(pending_), true});
        pending_.clear();
        dropping_ = true;
      } else {
        pending_.append(bytes, start, end - start);
      }
    }
    if (newline == std::string::npos) {
      return;
    }
    if (dropping_) {
      dropping_ = false;
    } else {
      emit(out);
    }
    start = newline + 1;
  }
}

void LineSplitter::finish(std::vector<SplitLine>* out) {
  if (!pending_.empty() && !dropping_) {
    emit(out);
  }
  pending_.clear();
  dropping_ = false;
}
