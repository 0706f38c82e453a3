#include "power_command.h"

#include <cstdlib>

#include "tool_locator.h"

bool splitCommand(const std::string& text, std::vector<std::string>* words, std::string* problem) {
  words->clear();
  std::string word;
  bool inWord = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) {
        words->push_back(word);
        word.clear();
        inWord = false;
      }
      continue;
    }
    inWord = true;
    if (c == '\\') {
      if (i + 1 >= text.size()) {
        *problem = "it ends in a backslash";
        return false;
      }
      // A backslash before a newline joins the lines, as in a shell.
      if (text[++i] != '\n') {
        word += text[i];
      }
    } else if (c == '\'') {
      size_t close = text.find('\'', i + 1);
      if (close == std::string::npos) {
        *problem = "a single quote is not closed";
        return false;
      }
      word += text.substr(i + 1, close - i - 1);
      i = close;
    } else if (c == '"') {
      size_t j = i + 1;
      for (; j < text.size() && text[j] != '"'; ++j) {
        if (text[j] == '\\' && j + 1 < text.size() &&
            std::string("\\\"$`\n").find(text[j + 1]) != std::string::npos) {
          ++j;
          if (text[j] != '\n') {
            word += text[j];
          }
          continue;
        }
        word += text[j];
      }
      if (j >= text.size()) {
        *problem = "a double quote is not closed";
        return false;
      }
      i = j;
    } else {
      word += c;
    }
  }
  if (inWord) {
    words->push_back(word);
  }
  if (words->empty()) {
    *problem = "it names no program";
    return false;
  }
  return true;
}

std::string commandProgram(const std::string& name) {
  if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos) {
    return name;
  }
  const char* path = std::getenv("PATH");
  return findOnSearchPath(name, path != nullptr ? path : "");
}

std::string commandText(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) {
    if (!text.empty()) {
      text += ' ';
    }
    bool plain = !word.empty() && word.find_first_not_of(
                                      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                      "0123456789-_./=:,+@%") == std::string::npos;
    if (plain) {
      text += word;
      continue;
    }
    text += '\'';
    for (char c : word) {
      text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    text += '\'';
  }
  return text;
}
