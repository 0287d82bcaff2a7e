#pragma once
// The questions, messages and file dialogs the window shows.  The window uses
// the real Qt dialogs; tests install a scripted implementation so that no person
// has to answer them.

#include <QString>

#include <functional>

class QPrinter;
class QWidget;

namespace orvex {

struct FileDialogRequest {
    QString caption;
    QString filter;        // Qt filter syntax: "Text (*.ext);;Other (*.x)"
    QString defaultSuffix; // without the dot, empty for none
    // Save dialogs: the suffix a name typed without an extension gets for the type
    // chosen in the dialog (empty function: always defaultSuffix).
    std::function<QString(const QString& chosenFilter)> suffixForFilter;
    bool confirmOverwrite = true;
    QString initialName;
};

class IDialogs {
  public:
    virtual ~IDialogs() = default;
    // Modal question with the information icon and the buttons Yes and No; Yes is
    // the default button unless `noByDefault` (Enter then keeps what would be lost).
    virtual bool AskYesNo(QWidget* parent, const QString& text, bool noByDefault = false) = 0;
    // The same with a third button, Cancel, which is also the answer when the box
    // is dismissed (Escape, its close box): for a question whose No cannot be undone.
    enum class Answer { Yes, No, Cancel };
    virtual Answer AskYesNoCancel(QWidget* parent, const QString& text) = 0;
    // Modal information message with an OK button.
    virtual void Inform(QWidget* parent, const QString& text) = 0;
    // Modal error message with an OK button (caption "Error" unless given).
    virtual void ShowError(QWidget* parent, const QString& text,
                           const QString& caption = QString()) = 0;
    // File names; empty when the user cancels.
    virtual QString AskSaveFileName(QWidget* parent, const FileDialogRequest& request) = 0;
    virtual QString AskOpenFileName(QWidget* parent, const FileDialogRequest& request) = 0;
    // The print dialog for a document of `pageCount` pages: printer (or PDF file),
    // page range and copies go into `printer`. False when the user cancels.
    virtual bool AskPrinter(QWidget* parent, QPrinter& printer, int pageCount) = 0;
};

// The real Qt dialogs.
IDialogs& QtDialogs();

} // namespace orvex
