#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velto {

// The system's open and save dialogs as the application model uses them. The dialogs run on
// the main thread without blocking it and answer there; a cancelled dialog answers with
// nothing chosen.
class FileChooser {
  public:
    struct OpenRequest {
        std::string message;
        std::string confirmTitle;  // empty: the dialog's own
        bool files = true;
        bool folders = false;
        bool multiple = false;
        bool jsonOnly = false;
    };
    struct SaveRequest {
        std::string suggestedName;
        bool jsonOnly = true;
    };

    virtual ~FileChooser() = default;
    virtual void chooseToOpen(const OpenRequest& request,
                              std::function<void(std::vector<std::filesystem::path>)> done) = 0;
    virtual void chooseToSave(const SaveRequest& request,
                              std::function<void(std::optional<std::filesystem::path>)> done) = 0;
};

}  // namespace velto
