// Message boxes answered by the test: no dialog ever opens.
#pragma once

#include <QString>
#include <vector>

#include "ui/message_boxes.h"

namespace tarnwick::testing {

// Answers questions with the next prepared answer (No when none is left) and
// remembers every text it was shown.
class TScriptedBoxes final : public TMessageBoxes {
public:
    explicit TScriptedBoxes(bool defaultAnswer = false) : DefaultAnswer(defaultAnswer) {}
    std::vector<bool> Answers;
    bool DefaultAnswer;  // once the prepared answers are used up
    std::vector<QString> Asked;
    std::vector<QString> Shown;
    std::vector<QString> ShownCaptions;
    bool Ask(QWidget*, const QString& text) override {
        Asked.push_back(text);
        if (Answers.empty()) return DefaultAnswer;
        const bool answer = Answers.front();
        Answers.erase(Answers.begin());
        return answer;
    }
    void Show(QWidget*, const QString& text, const QString& caption, QMessageBox::Icon) override {
        Shown.push_back(text);
        ShownCaptions.push_back(caption);
    }
};

}  // namespace tarnwick::testing
