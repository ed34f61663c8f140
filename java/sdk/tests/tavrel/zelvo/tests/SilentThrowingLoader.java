package tavrel.zelvo.tests;

import tavrel.zelvo.idesktopapplication.DesktopApplication;

/** A loader whose run fails with an exception that has no message. */
public final class SilentThrowingLoader {
    private SilentThrowingLoader() {}

    public static DesktopApplication run(String[] archive, String code) {
        throw new UnsupportedOperationException();
    }
}
