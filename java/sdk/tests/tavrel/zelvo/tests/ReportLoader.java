package tavrel.zelvo.tests;

import tavrel.zelvo.idesktopapplication.DesktopApplication;

/** Builds a {@link ReportApplication} with the request's values. */
public final class ReportLoader {
    private ReportLoader() {}

    public static DesktopApplication run(String[] archive, String code) {
        return new ReportApplication(archive, code);
    }
}
