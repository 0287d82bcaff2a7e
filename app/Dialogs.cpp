#include "app/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

#include <algorithm>

namespace orvex {
namespace {

QString Caption(QWidget* parent) {
    return parent ? parent->window()->windowTitle() : QApplication::applicationName();
}

// A modal question with the information icon; the button pressed.
int Ask(QWidget* parent, const QString& text, QMessageBox::StandardButtons buttons,
        QMessageBox::StandardButton defaultButton) {
    QMessageBox box(QMessageBox::Information, Caption(parent), text, buttons, parent);
    box.setDefaultButton(defaultButton);
    // Escape and the close button: Cancel where there is one, else No.
    if (buttons & QMessageBox::Cancel) box.setEscapeButton(QMessageBox::Cancel);
    return box.exec();
}

class TQtDialogs final : public IDialogs {
  public:
    bool AskYesNo(QWidget* parent, const QString& text, bool noByDefault) override {
        return Ask(parent, text, QMessageBox::Yes | QMessageBox::No,
                   noByDefault ? QMessageBox::No : QMessageBox::Yes) == QMessageBox::Yes;
    }
    Answer AskYesNoCancel(QWidget* parent, const QString& text) override {
        const int pressed =
            Ask(parent, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                QMessageBox::Yes);
        return pressed == QMessageBox::Yes  ? Answer::Yes
               : pressed == QMessageBox::No ? Answer::No
                                            : Answer::Cancel;
    }
    void Inform(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::Information, Caption(parent), text, QMessageBox::Ok, parent);
        box.exec();
    }
    void ShowError(QWidget* parent, const QString& text, const QString& caption) override {
        QMessageBox box(QMessageBox::Critical, caption.isEmpty() ? Caption(parent) : caption, text,
                        QMessageBox::Ok, parent);
        box.exec();
    }
    QString AskSaveFileName(QWidget* parent, const FileDialogRequest& r) override {
        QFileDialog dialog(parent, r.caption, QString(), r.filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !r.confirmOverwrite);
        if (!r.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(r.defaultSuffix);
        if (r.suffixForFilter) {
            // The suffix follows the chosen type, before the dialog adds it to a bare
            // name and asks whether to replace an existing file of that name.
            const auto follow = [&dialog, &r](const QString& filter) {
                dialog.setDefaultSuffix(r.suffixForFilter(filter));
            };
            QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, follow);
            follow(dialog.selectedNameFilter());
        }
        if (!r.initialName.isEmpty()) dialog.selectFile(r.initialName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
        return dialog.selectedFiles().constFirst();
    }
    QString AskOpenFileName(QWidget* parent, const FileDialogRequest& r) override {
        QFileDialog dialog(parent, r.caption, QString(), r.filter);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        if (!r.initialName.isEmpty()) dialog.selectFile(r.initialName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
        return dialog.selectedFiles().constFirst();
    }
    bool AskPrinter(QWidget* parent, QPrinter& printer, int pageCount) override {
        QPrintDialog dialog(&printer, parent);
        dialog.setMinMax(1, std::max(1, pageCount));
        dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
        dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, true);
        dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
        return dialog.exec() == QDialog::Accepted;
    }
};

} // namespace

IDialogs& QtDialogs() {
    static TQtDialogs dialogs;
    return dialogs;
}

} // namespace orvex
