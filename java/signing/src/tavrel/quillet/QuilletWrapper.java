package tavrel.quillet;

/**
 * The wrapper's question to the signing plug-in: where is the Quillet jar?
 * The plug-in library, loaded with System.load, implements the native method
 * and answers by calling {@code target.setPath(String)}, or throws.
 */
public final class QuilletWrapper {
    private QuilletWrapper() {
    }

    public static native void getQuilletJar(Object target);
}
