// Helpers of the window-layer tests: a fresh project and main window, books
// and sources added straight into the project, a main loop that runs a
// command and returns once every run's thread and log line are done, and a
// modal driver that plays the user on the dialogs.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/project/BookSet.h"
#include "app/window/MainStoryboard.h"
#include "app/window/ViewController.h"
#include "platform/UIApplication.h"
#include "platform/UIOpenPanel.h"
#include "platform/UISavePanel.h"
#include "platform/UIThread.h"
#include "platform/UIViewController.h"
#include "tests/app/project/ProjectTestUtil.h"

namespace lftest {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        set = freshBookSet();
        set->setCorrentSource(-1);
        registerMainStoryboard();
        vc.reset(new ViewController(&app));
        vc->loadViewIfNeeded();
    }
    void TearDown() override {
        UIThread::joinAll();
        vc.reset();
        UIViewController::setModalDriver(nullptr);
        UIOpenPanel::setAnswerSource(nullptr);
        UISavePanel::setAnswerSource(nullptr);
    }

    // Runs command on the main loop; returns when every thread it started
    // has ended and the log lines they sent are in the log.
    void onMainLoop(const std::function<void()>& command) {
        std::thread waiter;
        app.performOnMainThread([&] {
            command();
            waiter = std::thread([this] {
                UIThread::joinAll();
                app.terminate();
            });
        });
        app.run();
        waiter.join();
    }

    // A book appended to the project.
    BookInfo& addBook(const std::string& title, const std::string& dir) {
        BookInfo book;
        book.setBookTitle(title);
        book.setDirName(dir);
        set->getBookArray().push_back(book);
        return set->getBookArray().back();
    }
    static void addSource(BookInfo& book, const std::string& path, int type, const std::string& fields = "") {
        SourceInfo s;
        s.setInFile(path);
        s.setSourceTypeID(type);
        s.setFields(fields);
        book.getSource().push_back(s);
    }

    const std::string& log() const { return vc->textView.string(); }

    UIApplication app;
    BookSet* set = nullptr;
    std::unique_ptr<ViewController> vc;
};

// Plays the user on every modal window of type T: play gets the loaded
// controller.
template <class T>
void playDialogs(std::function<void(T*)> play) {
    UIViewController::setModalDriver([play](UIViewController* presented) {
        if (T* dialog = dynamic_cast<T*>(presented)) play(dialog);
    });
}

}  // namespace lftest
