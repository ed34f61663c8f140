package tavrel.zelvo.tests;

import tavrel.zelvo.idesktopapplication.DesktopApplication;

/** A loader whose run fails with a message. */
public final class ThrowingLoader {
    private ThrowingLoader() {}

    public static DesktopApplication run(String[] archive, String code) {
        throw new IllegalStateException("La aplicación de prueba no arranca");
    }
}
