// A view controller and the window controller that shows it. There is no
// screen here: presenting a controller as a modal window loads its view and
// hands it to the modal driver that the front end (or a test) installs to
// play the user; the controller stays presented until it dismisses itself.
// Without a driver a modal window is shown and left for the caller to drive.
#pragma once

#include <functional>
#include <memory>
#include <string>

class UIViewController {
public:
    typedef std::function<void(UIViewController* presented)> ModalDriver;

    virtual ~UIViewController() = default;

    // Called once, when the view is first needed.
    virtual void viewDidLoad() {}
    void loadViewIfNeeded() {
        if (!m_loaded) {
            m_loaded = true;
            viewDidLoad();
        }
    }
    bool isViewLoaded() const { return m_loaded; }

    const std::string& title() const { return m_title; }
    void setTitle(const std::string& title) { m_title = title; }

    // The control that has the keyboard focus in this controller's window
    // (null: none); a control is named by its address.
    const void* firstResponder() const { return m_firstResponder; }
    void makeFirstResponder(const void* control) { m_firstResponder = control; }

    // Shows vc as a modal window of this controller's window.
    void presentViewControllerAsModalWindow(UIViewController* vc);
    // Closes the modal window this controller is shown in.
    void dismissController() { m_presented = false; }
    bool isPresented() const { return m_presented; }

    // The driver of every modal window from now on (null: none).
    static void setModalDriver(ModalDriver driver);

private:
    bool m_loaded = false;
    bool m_presented = false;
    const void* m_firstResponder = nullptr;
    std::string m_title;
};

class UIWindowController {
public:
    explicit UIWindowController(std::unique_ptr<UIViewController> content) : m_content(std::move(content)) {}
    UIViewController* contentViewController() const { return m_content.get(); }

private:
    std::unique_ptr<UIViewController> m_content;
};

// Controllers made by identifier, as a storyboard file would make them. The
// program registers a factory per identifier at start-up.
class UIStoryboard {
public:
    typedef std::function<std::unique_ptr<UIViewController>()> Factory;

    explicit UIStoryboard(std::string name) : m_name(std::move(name)) {}
    static void registerController(const std::string& storyboard, const std::string& identifier, Factory factory);
    // A new window controller around a new content controller; null for an
    // identifier nothing registered.
    std::shared_ptr<UIWindowController> instantiateControllerWithIdentifier(const std::string& identifier) const;

private:
    std::string m_name;
};
