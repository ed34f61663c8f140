package tavrel.zelvo.tests;

import tavrel.zelvo.NativeDesktopApplicationMessage;
import tavrel.zelvo.idesktopapplication.DesktopApplication;

/** An application without onMessage(byte[]): text messages come back; it ends on close. */
public final class NoBinaryLoader {
    private NoBinaryLoader() {}

    public static DesktopApplication run(String[] archive, String code) {
        return Partial.asApplication(new Application());
    }

    public static final class Application extends Partial.UntilClosed {
        Application() {
            super("zelvo-no-binary");
        }

        public void onMessage(String message) {
            NativeDesktopApplicationMessage.onMessage(message);
        }
    }
}
