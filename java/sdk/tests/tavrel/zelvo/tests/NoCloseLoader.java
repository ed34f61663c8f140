package tavrel.zelvo.tests;

import tavrel.zelvo.NativeDesktopApplicationMessage;
import tavrel.zelvo.idesktopapplication.DesktopApplication;

/**
 * An application without onClose() and without threads of its own: it ends as
 * soon as it has started, so the bridge closes the connection at once.
 */
public final class NoCloseLoader {
    private NoCloseLoader() {}

    public static DesktopApplication run(String[] archive, String code) {
        return Partial.asApplication(new Application());
    }

    public static final class Application {
        public void onMessage(String message) {
            NativeDesktopApplicationMessage.onMessage(message);
        }

        public void onMessage(byte[] message) {
            NativeDesktopApplicationMessage.onMessage(message);
        }
    }
}
