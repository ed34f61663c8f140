package tavrel.zelvo.sample;

import tavrel.zelvo.idesktopapplication.DesktopApplication;

/** Loader of the echo sample: configure "java" / "loaderclass" as tavrel/zelvo/sample/EchoLoader. */
public final class EchoLoader {
    private EchoLoader() {}

    public static DesktopApplication run(String[] archive, String code) {
        EchoApplication application = new EchoApplication();
        application.start();
        return application;
    }
}
