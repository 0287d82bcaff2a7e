#pragma once
// Dialogs answered by the test instead of a person: every question and message
// is recorded, questions take their answers from a queue (No when it is empty).

#include "app/Dialogs.h"

#include <QStringList>

#include <deque>
#include <functional>

namespace orvex::testing {

class ScriptedDialogs : public IDialogs {
  public:
    std::deque<bool> answers;
    std::deque<Answer> threeWayAnswers;
    std::deque<QString> fileNames;
    QStringList questions, informations, errors, errorCaptions;
    QList<bool> questionsNoByDefault; // for each question, whether No was its default
    QList<FileDialogRequest> fileRequests;
    // Print dialogs: each answer sets up the printer and says whether to print
    // (cancelled when none is left); the page counts asked about are kept.
    std::deque<std::function<bool(QPrinter&)>> printers;
    QList<int> printDialogPages;

    bool AskYesNo(QWidget*, const QString& text, bool noByDefault = false) override {
        questions << text;
        questionsNoByDefault << noByDefault;
        if (answers.empty()) return false;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    // Answered from `threeWayAnswers` while it holds any, else from `answers`.
    Answer AskYesNoCancel(QWidget* parent, const QString& text) override {
        if (threeWayAnswers.empty()) return AskYesNo(parent, text) ? Answer::Yes : Answer::No;
        questions << text;
        questionsNoByDefault << false;
        const Answer a = threeWayAnswers.front();
        threeWayAnswers.pop_front();
        return a;
    }
    void Inform(QWidget*, const QString& text) override { informations << text; }
    void ShowError(QWidget*, const QString& text, const QString& caption) override {
        errors << text;
        errorCaptions << caption;
    }
    QString AskSaveFileName(QWidget*, const FileDialogRequest& r) override { return nextFile(r); }
    QString AskOpenFileName(QWidget*, const FileDialogRequest& r) override { return nextFile(r); }
    bool AskPrinter(QWidget*, QPrinter& printer, int pageCount) override {
        printDialogPages << pageCount;
        if (printers.empty()) return false;
        auto answer = std::move(printers.front());
        printers.pop_front();
        return answer(printer);
    }

  private:
    QString nextFile(const FileDialogRequest& r) {
        fileRequests << r;
        if (fileNames.empty()) return {};
        QString name = fileNames.front();
        fileNames.pop_front();
        return name;
    }
};

} // namespace orvex::testing
