package tavrel.zelvo;

/** A message class without its native methods, placed before the real one on a test's class path. */
public final class NativeDesktopApplicationMessage {
    private NativeDesktopApplicationMessage() {}
}
