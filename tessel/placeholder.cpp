// filled by the support library sources
