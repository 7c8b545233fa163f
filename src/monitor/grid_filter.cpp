#include "monitor/grid_filter.h"

#include <algorithm>
#include <bit>

#include "common/text_util.h"

namespace tarnwick {

namespace {

constexpr size_t kWordsPerSet = 64;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Whether lower-cased `word` occurs in `text`, whose letters may be of either case.
bool ContainsFolded(std::string_view text, std::string_view word) {
    if (word.size() > text.size()) return false;
    const size_t last = text.size() - word.size();
    for (size_t i = 0; i <= last; ++i) {
        if (AsciiLower(text[i]) != word[0]) continue;
        size_t j = 1;
        while (j < word.size() && AsciiLower(text[i + j]) == word[j]) ++j;
        if (j == word.size()) return true;
    }
    return false;
}

bool CanOccurIn(std::string_view word, std::string_view bytes) {
    return bytes.empty() || std::all_of(word.begin(), word.end(),
                                        [bytes](char c) { return bytes.find(c) != std::string_view::npos; });
}

}  // namespace

void TGridFilter::SetText(std::string_view text) {
    Text_.clear();
    std::vector<std::string> words;
    for (size_t at = 0; at < text.size();) {
        if (IsBlank(text[at])) {
            ++at;
            continue;
        }
        size_t end = at;
        while (end < text.size() && !IsBlank(text[end])) ++end;
        const std::string_view word = text.substr(at, end - at);
        if (!Text_.empty()) Text_ += ' ';
        Text_ += word;
        words.push_back(AsciiLowerCase(word));
        at = end;
    }
    // A word inside another is found wherever that one is: only the longer is looked for.
    std::sort(words.begin(), words.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    std::vector<std::string> kept;
    for (std::string& word : words) {
        const bool inside = std::any_of(kept.begin(), kept.end(), [&word](const std::string& longer) {
            return longer.find(word) != std::string::npos;
        });
        if (!inside) kept.push_back(std::move(word));
    }

    Looks_.clear();
    for (const bool made : {false, true}) {
        for (const TGridColumn& column : GridColumns()) {
            if (column.TextMade == made) Looks_.push_back(TLook{&column, false});
            if (!made && column.OtherText) Looks_.push_back(TLook{&column, true});
        }
    }
    Sets_.clear();
    for (size_t first = 0; first < kept.size(); first += kWordsPerSet) {
        TWordSet& set = Sets_.emplace_back();
        set.Words.assign(kept.begin() + static_cast<std::ptrdiff_t>(first),
                         kept.begin() + static_cast<std::ptrdiff_t>(std::min(kept.size(), first + kWordsPerSet)));
        set.All = set.Words.size() == 64 ? ~uint64_t{0} : (uint64_t{1} << set.Words.size()) - 1;
        for (const TLook& look : Looks_) {
            const std::string_view bytes = look.Other ? look.Column->OtherTextBytes : look.Column->TextBytes;
            uint64_t canOccur = 0;
            for (size_t w = 0; w < set.Words.size(); ++w)
                if (CanOccurIn(set.Words[w], bytes)) canOccur |= uint64_t{1} << w;
            set.CanOccur.push_back(canOccur);
        }
        set.FoundIn.assign(set.Words.size(), 0);
    }
}

bool TGridFilter::Matches(const TConnectionRow& row) const {
    if (!row.Key) return false;
    return std::all_of(Sets_.begin(), Sets_.end(), [&](const TWordSet& set) { return MatchesSet(row, set); });
}

std::string_view TGridFilter::LookText(const TConnectionRow& row, size_t look) const {
    const TGridColumn& column = *Looks_[look].Column;
    return Looks_[look].Other ? column.OtherText(row, Scratch_) : column.Text(row, Scratch_);
}

bool TGridFilter::MatchesSet(const TConnectionRow& row, const TWordSet& set) const {
    uint64_t missing = set.All;
    // Rows are alike: a word is mostly found where it was found in the row
    // before, and looked for there first it is found without reading the rest.
    for (uint64_t words = missing; words != 0; words &= words - 1) {
        const int word = std::countr_zero(words);
        const size_t look = set.FoundIn[static_cast<size_t>(word)];
        if ((set.CanOccur[look] >> word & 1) != 0 &&
            ContainsFolded(LookText(row, look), set.Words[static_cast<size_t>(word)]))
            missing &= ~(uint64_t{1} << word);
    }
    for (size_t look = 0; look < Looks_.size() && missing != 0; ++look) {
        uint64_t candidates = missing & set.CanOccur[look];
        if (candidates == 0) continue;
        const std::string_view text = LookText(row, look);
        for (; candidates != 0; candidates &= candidates - 1) {
            const int word = std::countr_zero(candidates);
            if (!ContainsFolded(text, set.Words[static_cast<size_t>(word)])) continue;
            missing &= ~(uint64_t{1} << word);
            set.FoundIn[static_cast<size_t>(word)] = static_cast<uint8_t>(look);
        }
    }
    return missing == 0;
}

}  // namespace tarnwick
