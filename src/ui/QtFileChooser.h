#pragma once

#include <QPointer>
#include <vector>

#include "app/FileChooser.h"

class QFileDialog;

namespace velto {

// The application model's open and save dialogs, on Qt's own (non-native) file dialog: neither
// the desktop portal nor the native dialogs let one selection hold files and folders together.
// Needs a QApplication; the dialogs open without blocking and answer when they close.
class QtFileChooser final : public FileChooser {
  public:
    QtFileChooser() = default;
    ~QtFileChooser() override;

    void chooseToOpen(const OpenRequest& request,
                      std::function<void(std::vector<std::filesystem::path>)> done) override;
    void chooseToSave(const SaveRequest& request,
                      std::function<void(std::optional<std::filesystem::path>)> done) override;

  private:
    void present(QFileDialog* dialog, std::function<void(QFileDialog*, bool accepted)> finished);

    std::vector<QPointer<QFileDialog>> open_;
};

}  // namespace velto
