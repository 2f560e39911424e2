#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "SearchTestRuntime.h"
#include "app/search/SearchViewModel.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/files/UserDefaults.h"
#include "foundation/WorkerPool.h"
#include "support/TempDir.h"

namespace velto::searchtest {

class SearchModelTest : public ::testing::Test {
  protected:
    SearchModelTest() {
        model = std::make_unique<SearchViewModel>(runtime, defaults, queue, workers);
        model->setBlockingExecutor([this](std::function<void()> job) { held.submit(std::move(job)); });
    }

    void type(const std::string& text) {
        model->setQuery(text);
        model->queryChanged();
    }
    // Submits and lets every request answer.
    void submit(const std::string& text, std::optional<SearchScope> scope = std::nullopt) {
        type(text);
        model->search(scope);
        held.releaseAll();
    }
    std::size_t callsStartingWith(const std::string& prefix) const {
        std::size_t count = 0;
        for (const auto& call : runtime.calls) count += call.rfind(prefix, 0) == 0 ? 1 : 0;
        return count;
    }
    std::vector<std::string> artistIDs() const {
        std::vector<std::string> out;
        for (const auto& a : model->artistResults()) out.push_back(a.id);
        return out;
    }

    TempDir dir;
    UserDefaults defaults{dir.path() / "defaults.json"};
    ManualMainQueue queue;
    WorkerPool workers{1};
    SearchTestRuntime runtime;
    HeldJobs held{queue};
    std::unique_ptr<SearchViewModel> model;
};

}  // namespace velto::searchtest
