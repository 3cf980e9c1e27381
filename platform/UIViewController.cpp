#include "platform/UIViewController.h"

#include <map>
#include <mutex>
#include <utility>

namespace {
std::mutex g_lock;
UIViewController::ModalDriver g_driver;
std::map<std::pair<std::string, std::string>, UIStoryboard::Factory>& factories() {
    static std::map<std::pair<std::string, std::string>, UIStoryboard::Factory> f;
    return f;
}
}  // namespace

void UIViewController::setModalDriver(ModalDriver driver) {
    std::lock_guard<std::mutex> g(g_lock);
    g_driver = std::move(driver);
}

void UIViewController::presentViewControllerAsModalWindow(UIViewController* vc) {
    if (vc == nullptr) return;
    vc->m_presented = true;
    vc->loadViewIfNeeded();
    ModalDriver driver;
    {
        std::lock_guard<std::mutex> g(g_lock);
        driver = g_driver;
    }
    if (driver) driver(vc);
}

void UIStoryboard::registerController(const std::string& storyboard, const std::string& identifier, Factory factory) {
    std::lock_guard<std::mutex> g(g_lock);
    factories()[{storyboard, identifier}] = std::move(factory);
}

std::shared_ptr<UIWindowController> UIStoryboard::instantiateControllerWithIdentifier(
    const std::string& identifier) const {
    Factory f;
    {
        std::lock_guard<std::mutex> g(g_lock);
        auto it = factories().find({m_name, identifier});
        if (it == factories().end()) return nullptr;
        f = it->second;
    }
    std::unique_ptr<UIViewController> content = f();
    if (!content) return nullptr;
    return std::make_shared<UIWindowController>(std::move(content));
}
