(begin
  (define x 5)
  (define double (lambda (n) (* 2 n)))
  (list (quote (a b c))
        x
        (double 21)
        (cond ((< x 3) (quote small)) (else (quote big)))
        (lambda (n) (* 2 n))))
