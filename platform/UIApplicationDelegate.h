// What the application tells its delegate. Every operation has a default that
// does nothing (or answers no).
#pragma once

class UIApplication;

class UIApplicationDelegate {
public:
    virtual ~UIApplicationDelegate() = default;
    virtual void applicationWillFinishLaunching(UIApplication*) {}
    virtual void applicationWillTerminate(UIApplication*) {}
    virtual bool applicationShouldTerminateAfterLastWindowClosed(UIApplication*) { return false; }
};
