package tavrel.zelvo.tests;

import tavrel.zelvo.NativeDesktopApplicationMessage;
import tavrel.zelvo.idesktopapplication.DesktopApplication;

/** An application without onMessage(String): binary messages come back; it ends on close. */
public final class NoTextLoader {
    private NoTextLoader() {}

    public static DesktopApplication run(String[] archive, String code) {
        return Partial.asApplication(new Application());
    }

    public static final class Application extends Partial.UntilClosed {
        Application() {
            super("zelvo-no-text");
        }

        public void onMessage(byte[] message) {
            NativeDesktopApplicationMessage.onMessage(message);
        }
    }
}
