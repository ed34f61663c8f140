package tavrel.zelvo.tests;

/** A loader whose run has the wrong signature. */
public final class NoRunLoader {
    private NoRunLoader() {}

    public static Object run(String[] archive) {
        return null;
    }
}
