import Cocoa

@main
final class AppDelegate: NSObject, NSApplicationDelegate {}
