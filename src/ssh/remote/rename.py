import os, sys, base64
src = base64.b64decode('{}').decode('utf-8')
dst = base64.b64decode('{}').decode('utf-8')
try:
    os.rename(src, dst)
except Exception as e:
    sys.stderr.write(str(e))
    sys.exit(1)
